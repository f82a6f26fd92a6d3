// Our stand-ins for the common file dialogs: they take the dialog record and show Qt's file
// dialog built from the values it can use, and hand back the chosen full path or a cancel.
// Tests replace the dialog with an answerer that sees the same request.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QWidget;
using HWND = QWidget*;

inline constexpr uint32_t OFN_HIDEREADONLY = 0x4;
inline constexpr uint32_t OFN_OVERWRITEPROMPT = 0x2;
inline constexpr uint32_t OFN_PATHMUSTEXIST = 0x800;
inline constexpr uint32_t OFN_FILEMUSTEXIST = 0x1000;

// Native widths: pointers and handles are this platform's.
struct OPENFILENAME {
  uint32_t lStructSize = sizeof(OPENFILENAME);
  HWND hwndOwner = nullptr;  // the dialog's owner, or none
  void* hInstance = nullptr;
  const char* lpstrFilter = nullptr;  // "description\0pattern\0" pairs, then one more NUL
  char* lpstrCustomFilter = nullptr;
  uint32_t nMaxCustFilter = 0;
  uint32_t nFilterIndex = 0;       // 1-based pair to start with; past the end = the last
  char* lpstrFile = nullptr;       // in: initial name; out: the full path, NUL-terminated
  uint32_t nMaxFile = 0;           // bytes of lpstrFile
  char* lpstrFileTitle = nullptr;  // out: the file's name alone
  uint32_t nMaxFileTitle = 0;
  const char* lpstrInitialDir = nullptr;
  const char* lpstrTitle = nullptr;  // none: the dialog's default title
  uint32_t Flags = 0;
  uint16_t nFileOffset = 0;     // out: where the name starts in lpstrFile
  uint16_t nFileExtension = 0;  // out: where the extension starts, 0 if none
  const char* lpstrDefExt = nullptr;
  intptr_t lCustData = 0;
  void* lpfnHook = nullptr;
  const char* lpTemplateName = nullptr;
};

// Non-zero when a file was chosen and fits lpstrFile; 0 on cancel or failure.
int GetOpenFileNameA(OPENFILENAME* ofn);
int GetSaveFileNameA(OPENFILENAME* ofn);

// What a dialog was asked to show, in the terms of the toolkit.
struct FileDialogRequest {
  bool save = false;
  HWND owner = nullptr;
  std::string title;       // empty: the default title
  std::string nameFilter;  // Qt form, one entry per description/pattern pair, ";;" between
  std::string selectedFilter;
  std::string initialDir;
  uint32_t flags = 0;
};

// An answerer returns the chosen path, or nullopt for a cancel.
using FileDialogAnswerer = std::function<std::optional<std::string>(const FileDialogRequest&)>;
// Returns the answerer it replaces; an empty one restores the real dialog.
FileDialogAnswerer SetFileDialogAnswerer(FileDialogAnswerer answerer);
