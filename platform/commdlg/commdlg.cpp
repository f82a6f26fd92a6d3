#include "commdlg.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QShowEvent>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "program.h"

namespace {

// Opens centred over its owner, or over the program's window when it has none: the dialog
// belongs with the program, not in a corner of the screen.
class FileDialog : public QFileDialog {
 public:
  FileDialog(QWidget* owner, const QString& caption, const QString& dir, const QString& filter)
      : QFileDialog(owner, caption, dir, filter), over_(owner ? owner : tk::ProgramWindow()) {}

 protected:
  void showEvent(QShowEvent* event) override {
    QFileDialog::showEvent(event);
    if (!event->spontaneous()) tk::CentreOver(this, over_);
  }

 private:
  QPointer<QWidget> over_;
};

FileDialogAnswerer& Answerer() {
  static FileDialogAnswerer answerer;
  return answerer;
}

FileDialogRequest RequestOf(const OPENFILENAME& ofn, bool save) {
  FileDialogRequest r;
  r.save = save;
  r.owner = ofn.hwndOwner;
  r.title = ofn.lpstrTitle ? ofn.lpstrTitle : "";
  r.initialDir = ofn.lpstrInitialDir ? ofn.lpstrInitialDir : "";
  r.flags = ofn.Flags;
  // The pairs run until an empty description. Qt takes the patterns from the parentheses at
  // the end of a description, blank-separated, so one that shows its pattern already has them
  // put there; the record's "*.*" is every file, names without a dot too.
  std::vector<std::string> entries;
  for (const char* p = ofn.lpstrFilter; p && *p;) {
    std::string description = p;
    p += description.size() + 1;
    std::string pattern = p;
    p += pattern.size() + 1;
    std::string qtPattern = pattern == "*.*" ? "*" : pattern;
    std::replace(qtPattern.begin(), qtPattern.end(), ';', ' ');
    const std::string shown = "(" + pattern + ")";
    const bool showsPattern =
        description.size() >= shown.size() &&
        description.compare(description.size() - shown.size(), shown.size(), shown) == 0;
    if (showsPattern) description.resize(description.size() - shown.size());
    entries.push_back(description + (showsPattern ? "(" : " (") + qtPattern + ")");
    if (pattern.empty()) break;
  }
  for (size_t i = 0; i < entries.size(); ++i) r.nameFilter += (i ? ";;" : "") + entries[i];
  if (!entries.empty()) {
    size_t index = ofn.nFilterIndex == 0 ? 1 : ofn.nFilterIndex;
    r.selectedFilter = entries[std::min(index, entries.size()) - 1];
  }
  return r;
}

std::optional<std::string> ShowQtDialog(const FileDialogRequest& r) {
  const QString dir = QFile::decodeName(r.initialDir.c_str());
  for (;;) {
    FileDialog dialog(r.owner, QString::fromUtf8(r.title.c_str()), dir,
                      QString::fromUtf8(r.nameFilter.c_str()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode((r.flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
    if (!(r.flags & OFN_OVERWRITEPROMPT)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // A name typed without an extension takes the chosen type's: "shot" under PNG is shot.png.
    auto takeSuffix = [&dialog, &r](const QString& filter) {
      const QRegularExpressionMatch m = QRegularExpression(R"(\*\.(\w+))").match(filter);
      if (r.save) dialog.setDefaultSuffix(m.hasMatch() ? m.captured(1) : QString());
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, takeSuffix);
    if (!r.selectedFilter.empty())
      dialog.selectNameFilter(QString::fromUtf8(r.selectedFilter.c_str()));
    takeSuffix(dialog.selectedNameFilter());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = dialog.selectedFiles().first();
    if ((r.flags & OFN_PATHMUSTEXIST) && !QFileInfo(chosen).absoluteDir().exists()) {
      QMessageBox::warning(
          &dialog, dialog.windowTitle(),
          QStringLiteral("%1\nフォルダが見つかりません。").arg(QFileInfo(chosen).absolutePath()));
      continue;
    }
    return std::string(QFile::encodeName(QDir::toNativeSeparators(chosen)).constData());
  }
}

int RunDialog(OPENFILENAME* ofn, bool save) {
  if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) return 0;
  FileDialogRequest request = RequestOf(*ofn, save);
  std::optional<std::string> path = Answerer() ? Answerer()(request) : ShowQtDialog(request);
  if (!path || path->empty() || path->size() + 1 > ofn->nMaxFile) return 0;  // cancel, or no room
  std::memset(ofn->lpstrFile, 0, ofn->nMaxFile);
  std::memcpy(ofn->lpstrFile, path->data(), path->size());
  const size_t slash = path->rfind('/');
  const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path->rfind('.');
  ofn->nFileOffset = static_cast<uint16_t>(std::min<size_t>(nameAt, UINT16_MAX));
  ofn->nFileExtension = static_cast<uint16_t>(
      dot != std::string::npos && dot > nameAt ? std::min<size_t>(dot + 1, UINT16_MAX) : 0);
  if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
    std::string name = path->substr(nameAt);
    size_t n = std::min<size_t>(name.size(), ofn->nMaxFileTitle - 1);
    std::memcpy(ofn->lpstrFileTitle, name.data(), n);
    ofn->lpstrFileTitle[n] = '\0';
  }
  return 1;
}

}  // namespace

int GetOpenFileNameA(OPENFILENAME* ofn) {
  return RunDialog(ofn, false);
}
int GetSaveFileNameA(OPENFILENAME* ofn) {
  return RunDialog(ofn, true);
}

FileDialogAnswerer SetFileDialogAnswerer(FileDialogAnswerer answerer) {
  return std::exchange(Answerer(), std::move(answerer));
}
