#include "frmMain.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <vector>

#include "checked.h"
#include "commdlg.h"
#include "frmAbout.h"
#include "msgbox.h"
#include "positions.h"
#include "program.h"

namespace {

constexpr uint32_t kDesktopColor = 0x008080;  // the classic desktop teal
constexpr uint32_t kWindowColor = 0xFFFFFF;   // label background
constexpr uint32_t kWindowTextColor = 0x000000;

constexpr const char* kMsgCancelled = "キャンセルされました";
constexpr const char* kMsgIndexing = "インデックスを作成しています…";
constexpr const char* kCaptionCancel = "キャンセル";
constexpr const char* kMsgSaveFailed = "BMPファイルを保存できませんでした。";
constexpr const char* kMsgSavePngFailed = "PNGファイルを保存できませんでした。";
// Only a damaged index has more frames than 32-bit field positions can number.
constexpr const char* kMsgLimit60 =
    "フレーム数が1073741824を超えているため、1/60では最初の1073741824フレームまでを表示します。";

// What the open command lists and a drop takes, by the name's end in any letter case: AVI and the
// camcorders' other containers. The library tells them apart by their content, not their names.
constexpr std::array<const char*, 15> kVideoExtensions = {".avi", ".dv",   ".dif", ".mov", ".mp4",
                                                          ".mpg", ".mpeg", ".vob", ".mod", ".ts",
                                                          ".m2t", ".m2ts", ".mts", ".tod", ".mkv"};
// BMP first, the one chosen when the dialog opens; PNG beside it.
constexpr char kSaveFilter[] = "Bitmap File(*.bmp)\0*.bmp\0PNG ファイル (*.png)\0*.png\0";
constexpr uint32_t kDialogFlags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;  // 2052
// A path as long as the file system allows: a 256-byte buffer would turn a long UTF-8 path
// into a cancel.
constexpr size_t kPathBuffer = 4096;

std::string Trim(const std::string& s) {  // leading and trailing blanks
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Whether a name ends in the extension, in any letter case, blanks around it ignored.
bool EndsWith(const std::string& name, const std::string& extension) {
  std::string last = Trim(name);
  last = last.substr(last.size() - std::min(last.size(), extension.size()));
  std::transform(last.begin(), last.end(), last.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return last == extension;
}

bool IsVideoName(const std::string& name) {
  return std::any_of(kVideoExtensions.begin(), kVideoExtensions.end(),
                     [&](const char* extension) { return EndsWith(name, extension); });
}

// The open dialog's pairs: the videos first, then every file.
const std::string& OpenFilter() {
  static const std::string filter = [] {
    std::string patterns;
    for (const char* extension : kVideoExtensions)
      patterns += (patterns.empty() ? "*" : ";*") + std::string(extension);
    using namespace std::string_literals;
    return "ビデオファイル\0"s + patterns + "\0すべてのファイル\0*.*\0"s;  // a NUL ends the list
  }();
  return filter;
}

// A dialog record filled as both file commands fill it; the buffers live in the caller.
struct DialogRecord {
  std::vector<char> file = std::vector<char>(kPathBuffer, '\0');
  std::vector<char> fileTitle = std::vector<char>(256, '\0');
  std::string initialDir = tk::App::Path();
  OPENFILENAME ofn;

  DialogRecord(HWND owner, const char* filter, const char* title, uint32_t filterIndex) {
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = filterIndex;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<uint32_t>(file.size());
    ofn.lpstrFileTitle = fileTitle.data();
    ofn.nMaxFileTitle = static_cast<uint32_t>(fileTitle.size());
    ofn.lpstrInitialDir = initialDir.c_str();
    ofn.lpstrTitle = title;
    ofn.Flags = kDialogFlags;
  }
  std::string Path() const { return std::string(file.data()); }  // up to the first NUL
};

}  // namespace

frmMain::frmMain() : tk::Form(kClientWidth, kClientHeight) {
  SetBackColor(kDesktopColor);
  Label.SetAlignment(tk::Label::Alignment::kCenter);
  Label.SetFont({"Times New Roman", "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"},
                12);
  Label.SetBackColor(kWindowColor);
  Label.SetForeColor(kWindowTextColor);
  Status.SetFont({"Times New Roman", "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"},
                 12);
  Status.SetAlignment(tk::Label::Alignment::kLeft);
  Status.SetBackColor(kWindowColor);
  Status.SetForeColor(kWindowTextColor);
  Status.SetVisible(false);
  CopyFileMenu.SetShortcut("Ctrl+C");
  NextSceneMenu.SetShortcut("N");
  PrevSceneMenu.SetShortcut("P");

  OnLoad([this] { Form_Load(); });
  OnActivate([this] { Form_Activate(); });
  OnClick([this] { Form_Click(); });
  OnUnload([this] { Form_Unload(); });
  OnOLEDragDrop([this](tk::DataObject& data, int32_t&, int16_t, int16_t, float, float) {
    Form_OLEDragDrop(data);
  });
  HScroll.OnChange([this] { HScroll_Change(); });
  HScroll.OnScroll([this] { HScroll_Scroll(); });
  OpenFileMenu.OnClick([this] { OpenFileMenu_Click(); });
  SaveFileManu.OnClick([this] { SaveFileManu_Click(); });
  CopyFileMenu.OnClick([this] { CopyFileMenu_Click(); });
  NextSceneMenu.OnClick([this] { NextSceneMenu_Click(); });
  PrevSceneMenu.OnClick([this] { PrevSceneMenu_Click(); });
  QuitFileMenu.OnClick([this] { QuitFileMenu_Click(); });
  Separate30Menu.OnClick([this] { Separate30Menu_Click(); });
  Separate60Menu.OnClick([this] { Separate60Menu_Click(); });
  OddDivMenu.OnClick([this] { OddDivMenu_Click(); });
  EvenDivMenu.OnClick([this] { EvenDivMenu_Click(); });
  AboutHelpMenu.OnClick([this] { AboutHelpMenu_Click(); });
}

frmMain::~frmMain() = default;

// ---- Start-up, shut-down, repaint -------------------------------------------------------------

void frmMain::Form_Load() {
  InitMain();
}

void frmMain::InitMain() {
  objBMPAVI = std::make_unique<classBMPAVI>();
  SetCaption("Dovrel  ");
  UpdateCommands();
}

void frmMain::UpdateCommands() {
  const bool loaded = !strAVIFile.empty();
  DivMenu.SetEnabled(loaded && bln30Mode == kFalse);
  SaveFileManu.SetEnabled(loaded);
  CopyFileMenu.SetEnabled(loaded);
  const bool scenes = loaded && objBMPAVI && objBMPAVI->HasRecordingTimes();
  NextSceneMenu.SetEnabled(scenes);
  PrevSceneMenu.SetEnabled(scenes);
  SeparateMenu.SetEnabled(loaded);
  HScroll.SetEnabled(loaded);
}

void frmMain::TermMain() {
  objBMPAVI.reset();  // closes the video and ends its use of the library
}

void frmMain::QuitFileMenu_Click() {
  TermMain();
  tk::End();
}

void frmMain::Form_Unload() {
  TermMain();
  tk::End();
}

void frmMain::ShowDIB() {
  Cls();
  PaintPicture();
}

void frmMain::PaintPicture() {
  if (lngDispWidth == objBMPAVI->biWidth() && lngDispHeight == objBMPAVI->biHeight()) {
    objBMPAVI->PutToDC(hDC(), kPictureX, kPictureY, lngDispWidth, lngDispHeight);
  } else {
    objBMPAVI->StretchToDC(hDC(), kPictureX, kPictureY, lngDispWidth, lngDispHeight);
  }
}

void frmMain::Form_Activate() {
  if (!strAVIFile.empty()) ShowDIB();
}

void frmMain::Form_Click() {
  if (!strAVIFile.empty()) ShowDIB();
}

// ---- Loading a video -------------------------------------------------------------------------

// A file without an index is read whole to index it, seconds for a tape: a box shows how far
// once that takes long, and its cancel stops the open. Before, and where an open tells nothing
// (headers, the first picture), the busy cursor.
int16_t frmMain::OpenVideo(const std::string& path) {
  const tk::BusyCursor busy;
  tk::ProgressBox progress(kMsgIndexing, kCaptionCancel);
  return objBMPAVI->GetEnable(
      path, [&progress](uint64_t done, uint64_t total) { return progress.Update(done, total); });
}

void frmMain::LoadAVI() {
  const int16_t failed = OpenVideo(strOpenFile);
  // A cancel the user chose says nothing, and the video before it is still open as it was.
  if (failed && objBMPAVI->OpenCancelled()) return;
  if (failed && strAVIFile.empty()) return;  // nothing was loaded: the start-up state stays
  if (failed) {
    // Keep working on the previous video: open it again and show its frame whole.
    if (OpenVideo(strAVIFile) != kFalse) {
      ReturnToStartUp();  // it has gone meanwhile: nothing is left to show
      return;
    }
    // It may have changed on disk meanwhile: the window follows what was opened. A position
    // past the new range moves to its end, which paints it.
    if (objBMPAVI->biWidth() != lngFitWidth || objBMPAVI->biHeight() != lngFitHeight)
      FitToPicture();
    UpdateCommands();  // it may have gained or lost its recording times
    const int32_t last = LastPosition(objBMPAVI->GetFrameMax(), bln30Mode != kFalse);
    if (HScroll.Max() != last) HScroll.SetMax(last);
    objBMPAVI->GetDIBAVI(lngFrameNo);
    ShowRecording();
    ShowDIB();
    return;
  }

  strAVIFile = strOpenFile;
  SetCaption("Dovrel  " + strAVIFile);
  FitToPicture();
  bln30Mode = kTrue;
  intDivLine = PriorityOfFieldOrder(objBMPAVI->FieldOrder());  // the field shot first comes first
  UpdateCommands();
  SetScaleWidth(kScaleWidth);
  SetScaleHeight(
      static_cast<float>(AddLng(MulLng(lngDispHeight, kScaleUnitsPerRow), kScaleUnitsPerRow)));
  blnToldLimit60 = false;
  HScroll.SetValue(0);
  HScroll.SetMax(objBMPAVI->GetFrameMax());
  HScroll_Scroll();
  ShowDIB();
  HScroll.SetFocus();
}

// The display rectangle is the frame's size where the screen the window is on has room for it
// and the status line below it, else the largest of the frame's shape that fits. The client area
// holds it at (0, 20) with the status line under it, and is as large as at creation at least,
// unless the screen is smaller than that too.
void frmMain::FitToPicture() {
  lngFitWidth = objBMPAVI->biWidth();
  lngFitHeight = objBMPAVI->biHeight();
  const Extent room = AvailableClientArea();
  const int64_t width = lngFitWidth, height = lngFitHeight;
  const int64_t roomWidth = room.width,
                roomHeight = std::max(room.height - kPictureY - kStatusHeight, 1);
  if (width <= roomWidth && height <= roomHeight) {
    lngDispWidth = lngFitWidth;
    lngDispHeight = lngFitHeight;
  } else if (width * roomHeight <= height * roomWidth) {  // the height is the tighter
    lngDispHeight = static_cast<int32_t>(roomHeight);
    lngDispWidth = static_cast<int32_t>(std::max<int64_t>(width * roomHeight / height, 1));
  } else {
    lngDispWidth = static_cast<int32_t>(roomWidth);
    lngDispHeight = static_cast<int32_t>(std::max<int64_t>(height * roomWidth / width, 1));
  }
  const int32_t clientWidth = std::min(std::max(kClientWidth, lngDispWidth), room.width);
  const int32_t clientHeight =
      std::min(std::max(kClientHeight, kPictureY + lngDispHeight + kStatusHeight), room.height);
  SetClientSize(clientWidth, clientHeight);
  Status.Move(kPictureX, kPictureY + lngDispHeight, clientWidth, kStatusHeight);
  HScroll.Move(kHScrollPlace.x, kHScrollPlace.y,
               std::max(clientWidth - kHScrollPlace.x - kHScrollRightGap, kHScrollPlace.height),
               kHScrollPlace.height);
}

void frmMain::ReturnToStartUp() {
  strAVIFile.clear();
  SetCaption("Dovrel  ");
  UpdateCommands();
  Label.SetCaption("");
  ShowRecording();
  Cls();
}

void frmMain::ShowRecording() {
  std::string text;
  if (!strAVIFile.empty() && objBMPAVI->IsDv())
    text = RecordingText(objBMPAVI->RecordingOf(lngFrameNo));
  Status.SetCaption(text.empty() ? "" : " " + text);
  Status.SetVisible(!text.empty());
}

// ---- Frame navigation and the two views ---------------------------------------------------------

void frmMain::HScroll_Scroll() {
  PaintPosition();
}

void frmMain::HScroll_Change() {
  PaintPosition();
}

// Fetches, separates in the 1/60 view, and paints over the old picture without clearing.
void frmMain::PaintPosition() {
  if (strAVIFile.empty()) return;  // no video: nothing to fetch from
  std::string caption = " ";       // the sign place of a non-negative number
  caption += std::to_string(HScroll.Value());
  Label.SetCaption(caption);
  lngFrameNo = GetFrameNo();
  intSepType = GetSeparateType();
  objBMPAVI->GetDIBAVI(lngFrameNo);
  // A buffer the fetch left as it was is separated already: again would shift its lines.
  if (bln30Mode == kFalse && objBMPAVI->Fetched()) objBMPAVI->SeparateDIB(intSepType);
  ShowRecording();
  PaintPicture();
}

int32_t frmMain::GetFrameNo() {
  return FrameOfPosition(HScroll.Value(), bln30Mode != kFalse);
}

int16_t frmMain::GetSeparateType() {
  return SeparateTypeOfPosition(HScroll.Value(), bln30Mode != kFalse, intDivLine);
}

// Scenes are found from a few frames' packets, wherever the next one is; on a slow disk that
// may take a moment, under the busy cursor. Where no scene lies that way, nothing moves.
void frmMain::NextSceneMenu_Click() {
  const tk::BusyCursor busy;
  GoToFrame(objBMPAVI->NextScene(GetFrameNo()));
}

void frmMain::PrevSceneMenu_Click() {
  const tk::BusyCursor busy;
  GoToFrame(objBMPAVI->PreviousScene(GetFrameNo()));
}

// The scroll bar moves there and its change event shows the frame, as for any position.
void frmMain::GoToFrame(int32_t frame) {
  if (frame < 0 || (bln30Mode == kFalse && frame > kFieldFrameMax)) return;
  const int32_t position = bln30Mode != kFalse ? frame : 2 * frame;
  if (position <= HScroll.Max()) HScroll.SetValue(position);
}

void frmMain::Separate30Menu_Click() {
  bln30Mode = kTrue;
  UpdateCommands();  // the priority menu goes
  HScroll.SetMax(LastPosition(objBMPAVI->GetFrameMax(), true));
  HScroll.SetValue(0);
  HScroll_Scroll();
}

void frmMain::Separate60Menu_Click() {
  bln30Mode = kFalse;
  UpdateCommands();  // the priority menu comes
  const int32_t frameMax = objBMPAVI->GetFrameMax();
  HScroll.SetMax(LastPosition(frameMax, false));
  HScroll.SetValue(0);
  HScroll_Scroll();
  if (frameMax > kFieldFrameMax && !blnToldLimit60) {
    blnToldLimit60 = true;
    MsgBox(kMsgLimit60);
  }
}

void frmMain::OddDivMenu_Click() {
  intDivLine = 1;
}

void frmMain::EvenDivMenu_Click() {
  intDivLine = 0;
}

// ---- The file commands
// ---------------------------------------------------------------------------

void frmMain::OpenFileMenu_Click() {
  strOpenFile.clear();
  DialogRecord record(hWnd(), OpenFilter().c_str(), "AVIファイルを選択",
                      1);  // the videos, not every file
  if (CInt(GetOpenFileNameA(&record.ofn)) <= 0) {
    MsgBox(kMsgCancelled);
    return;
  }
  strOpenFile = record.Path();
  LoadAVI();
}

void frmMain::SaveFileManu_Click() {
  DialogRecord record(nullptr, kSaveFilter, nullptr, 1);
  if (CInt(GetSaveFileNameA(&record.ofn)) > 0) {
    const std::string name = record.Path();  // used as returned: the blanks serve the test only
    if (EndsWith(name, ".png")) {
      if (objBMPAVI->WriteToPNGFile(name) != kTrue) MsgBox(kMsgSavePngFailed);
    } else {
      const std::string fileName = EndsWith(name, ".bmp") ? name : name + ".bmp";
      if (objBMPAVI->WriteToBMPFile(fileName) != kTrue) MsgBox(kMsgSaveFailed);
    }
  }
  ShowDIB();
}

// The picture on screen, as a save would write it, on the clipboard as an image.
void frmMain::CopyFileMenu_Click() {
  tk::SetClipboardPicture(objBMPAVI->biWidth(), objBMPAVI->biHeight(), objBMPAVI->Pixels());
}

// A dropped file whose trimmed name ends in a video's extension (any case) is loaded; anything
// else is ignored: no file list, a plain folder, an entry that names nothing.
void frmMain::Form_OLEDragDrop(tk::DataObject& Data) {
  if (!Data.GetFormat(tk::vbCFFiles)) return;
  const std::string first = Data.Files(1);
  const std::optional<int32_t> attributes = tk::GetAttr(first);
  if (!attributes || *attributes == tk::vbDirectory) return;
  if (!IsVideoName(first)) return;
  strOpenFile = Trim(first);
  LoadAVI();
}

// "dovrel FILE", as a file manager's "open with" starts it: the file loads as the open command
// loads a chosen one, once the window is up. Anything but one argument starts as without.
void frmMain::OpenArguments(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1 || arguments[0].empty()) return;
  // A full path, as a dialog gives; a relative one from the working folder, its ".." resolved
  // on the disk as the shell that typed it sees them.
  std::filesystem::path path = arguments[0];
  std::error_code error;
  if (path.is_relative()) {
    const std::filesystem::path full = std::filesystem::weakly_canonical(path, error);
    if (!error) path = full;
  }
  Later([this, chosen = path.string()] {
    strOpenFile = chosen;
    LoadAVI();
  });
}

// ---- The About box ------------------------------------------------------------------------------

void frmMain::AboutHelpMenu_Click() {
  ShowAboutBox();
  if (!strAVIFile.empty()) ShowDIB();
}
