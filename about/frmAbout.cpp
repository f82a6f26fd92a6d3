#include "frmAbout.h"

#include <string>

#include "appicon.h"
#include "program.h"

namespace {

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kShadow = 0x808080;  // the etched separator's grey line
constexpr uint32_t kLight = 0xFFFFFF;   // and its white one

// The two sentences stand 23 ideographic spaces apart; the label wraps them all.
constexpr const char* kDescription =
    "デジタルビデオカメラの画像をAVIIファイルに変換しPCで見る際、動きが速いと、画像が二重に見えるこ"
    "とがあります。"
    "\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"
    "\u3000\u3000\u3000\u3000\u3000\u3000\u3000\u3000"
    "このソフトは、約1/30フォレームレートで記録されているAVIファイルを再構成し、"
    "1/60フレームレートで見ることができるようにするために作成しました。";

constexpr const char* kDisclaimer =
    "警告: このソフトウェアは著作権法により保護されています。このソフトウェアに関するすべての権利は"
    "作者が保有しています。";

}  // namespace

frmAbout::frmAbout() : tk::Form(382, 237) {
  SetCaption("ﾊﾞｰｼﾞｮﾝ情報");
  SetBorderStyle(BorderStyle::kFixedDialog);
  SetClientPosition(156, 129);

  picIcon.SetAutoSize(true);
  picIcon.SetPicture(tk::ProgramIconImage(32));
  cmdOK.SetCaption("OK");
  cmdOK.SetDefault(true);
  cmdOK.SetCancel(true);
  cmdOK.SetTabIndex(0);
  Line1[1]->SetColor(kShadow);
  Line1[1]->SetWidth(1);
  lblDescription.SetForeColor(kBlack);
  lblDescription.SetWordWrap(true);
  lblDescription.SetCaption(kDescription);
  Quorlin.SetForeColor(kBlack);
  Quorlin.SetCaption("Dovrel");
  Line1[0]->SetColor(kLight);
  Line1[0]->SetWidth(2);
  lblDisclaimer.SetForeColor(kBlack);
  lblDisclaimer.SetWordWrap(true);
  lblDisclaimer.SetCaption(kDisclaimer);

  OnLoad([this] { Form_Load(); });
  cmdOK.OnClick([this] { cmdOK_Click(); });
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load() {
  SetCaption(tk::App::Title() + "のﾊﾞｰｼﾞｮﾝ情報");
  lblVersion.SetCaption("ﾊﾞｰｼﾞｮﾝ " + std::to_string(tk::App::Major()) + "." +
                        std::to_string(tk::App::Minor()) + "." +
                        std::to_string(tk::App::Revision()));
}

void frmAbout::cmdOK_Click() {
  Close();
}  // ShowAboutBox then destroys the box

void ShowAboutBox() {
  frmAbout box;  // closing it ends the modal showing; the box goes with this scope
  box.ShowModal();
}
