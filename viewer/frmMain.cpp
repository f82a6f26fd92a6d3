#include "frmMain.h"

#include "program.h"

namespace {

constexpr uint32_t kDesktopColor = 0x008080;  // the classic desktop teal
constexpr uint32_t kWindowColor = 0xFFFFFF;   // label background
constexpr uint32_t kWindowTextColor = 0x000000;

}  // namespace

frmMain::frmMain() : tk::Form(723, 499) {
  SetBackColor(kDesktopColor);
  Label.SetAlignment(tk::Label::Alignment::kCenter);
  Label.SetFont({"Times New Roman", "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"},
                12);
  Label.SetBackColor(kWindowColor);
  Label.SetForeColor(kWindowTextColor);

  OnLoad([this] { Form_Load(); });
  OnActivate([this] { Form_Activate(); });
  OnClick([this] { Form_Click(); });
  OnUnload([this] { Form_Unload(); });
  HScroll.OnChange([this] { HScroll_Change(); });
  HScroll.OnScroll([this] { HScroll_Scroll(); });
  OpenFileMenu.OnClick([this] { OpenFileMenu_Click(); });
  SaveFileManu.OnClick([this] { SaveFileManu_Click(); });
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
  EnableCommands(false, false);
}

void frmMain::EnableCommands(bool videoLoaded, bool fieldView) {
  DivMenu.SetEnabled(videoLoaded && fieldView);
  SaveFileManu.SetEnabled(videoLoaded);
  SeparateMenu.SetEnabled(videoLoaded);
  HScroll.SetEnabled(videoLoaded);
}

void frmMain::TermMain() {
  objBMPAVI.reset();
}  // closes the video, ends its use of the library

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
  objBMPAVI->PutToDC(hDC(), 0, 20, lngDispWidth, lngDispHeight);
}

void frmMain::Form_Activate() {
  if (!strAVIFile.empty()) ShowDIB();
}

void frmMain::Form_Click() {
  if (!strAVIFile.empty()) ShowDIB();
}

// ---- Navigation, the views, the file commands and the About box -----------------------------
// Wired to their controls already; their commands are not built yet, so they do nothing. Before a
// video is loaded only the open command and the About box can be chosen.

void frmMain::HScroll_Change() {}
void frmMain::HScroll_Scroll() {}
void frmMain::Separate30Menu_Click() {}
void frmMain::Separate60Menu_Click() {}
void frmMain::OddDivMenu_Click() {}
void frmMain::EvenDivMenu_Click() {}
void frmMain::OpenFileMenu_Click() {}
void frmMain::SaveFileManu_Click() {}
void frmMain::AboutHelpMenu_Click() {}
