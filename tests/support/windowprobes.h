// Reaches into the windows for tests and benchmarks: a drop as another program delivers one,
// and the main window's controls, state and procedures.
#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <string>
#include <vector>

#include "form.h"
#include "frmMain.h"

// A drop of the data at a client-area point, through the window's own drag-and-drop events as
// a drag from another program delivers them (the window must be shown for the window system's
// routing; a hidden one gets the events directly). Returns whether the drop was accepted.
inline bool SimulateDrop(tk::Form& form, const QMimeData& data, int32_t x = 1, int32_t y = 1,
                         int32_t effect = tk::vbDropEffectCopy) {
  // The only action offered is the one proposed: the first of copy, move and link the effect
  // holds, a copy when it holds none.
  Qt::DropAction proposed = Qt::CopyAction;
  if (!(effect & tk::vbDropEffectCopy) && (effect & tk::vbDropEffectMove)) {
    proposed = Qt::MoveAction;
  } else if (!(effect & tk::vbDropEffectCopy) && (effect & tk::vbDropEffectLink)) {
    proposed = Qt::LinkAction;
  }
  QWidget* window = form.hWnd();
  QObject* target = window;
  if (window->isVisible() && window->windowHandle()) target = window->windowHandle();
  const QPoint at = form.Client()->mapTo(window, QPoint(x, y));
  QDragEnterEvent enter(at, proposed, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(target, &leave);
    return false;
  }
  QDragMoveEvent move(at, proposed, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &move);
  QDropEvent drop(QPointF(at), proposed, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

struct frmMainProbe {
  explicit frmMainProbe(frmMain& f) : f(f) {}
  frmMain& f;

  std::vector<tk::Menu*> BarEntries() {
    return {&f.FileManu, &f.SeparateMenu, &f.DivMenu, &f.HelpMenu};
  }
  std::vector<tk::Menu*> Items() {
    return {&f.OpenFileMenu,   &f.SaveFileManu, &f.QuitFileMenu, &f.Separate30Menu,
            &f.Separate60Menu, &f.OddDivMenu,   &f.EvenDivMenu,  &f.AboutHelpMenu};
  }
  // The commands that came later, outside the list above: copy, next and previous scene.
  tk::Menu& Copy() { return f.CopyFileMenu; }
  tk::Menu& NextScene() { return f.NextSceneMenu; }
  tk::Menu& PrevScene() { return f.PrevSceneMenu; }
  tk::Label& Status() { return f.Status; }
  tk::HScrollBar& HScroll() { return f.HScroll; }
  tk::Label& Label() { return f.Label; }
  classBMPAVI* Source() { return f.objBMPAVI.get(); }
  tk::Menu& QuitFileMenu() { return f.QuitFileMenu; }
  const std::string& strAVIFile() { return f.strAVIFile; }
  int16_t bln30Mode() { return f.bln30Mode; }
  int16_t intDivLine() { return f.intDivLine; }
  int32_t lngFrameNo() { return f.lngFrameNo; }
  int16_t intSepType() { return f.intSepType; }
  int32_t lngDispWidth() { return f.lngDispWidth; }
  int32_t lngDispHeight() { return f.lngDispHeight; }

  // What the open command and a drop do once they have a path.
  void Load(const std::string& path) {
    f.strOpenFile = path;
    f.LoadAVI();
  }
  void Separate30() { f.Separate30Menu.Action()->trigger(); }
  void Separate60() { f.Separate60Menu.Action()->trigger(); }
  void Odd() { f.OddDivMenu.Action()->trigger(); }
  void Even() { f.EvenDivMenu.Action()->trigger(); }
  bool DivMenuEnabled() { return f.DivMenu.Enabled(); }
  bool SeparateMenuEnabled() { return f.SeparateMenu.Enabled(); }
  bool SaveEnabled() { return f.SaveFileManu.Enabled(); }

  // What loading does to the fields that painting reads, without the rest of loading: the
  // picture at its own size, whatever the window's. False when the frame source could not open
  // the file.
  [[nodiscard]] bool Open(const std::string& path) {
    if (f.objBMPAVI->GetEnable(path) != kFalse) return false;
    f.strAVIFile = path;
    f.lngDispWidth = f.objBMPAVI->biWidth();
    f.lngDispHeight = f.objBMPAVI->biHeight();
    return true;
  }
  void PretendLoaded() {  // a path, but the frame source holds no video
    f.strAVIFile = "/nowhere.avi";
    f.lngDispWidth = 720;
    f.lngDispHeight = 480;
  }
};
