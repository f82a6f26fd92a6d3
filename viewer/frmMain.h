// The main window: position label and scroll bar along the top, the picture at (0, 20) in a
// 720 x 480 display rectangle, four menus. It owns the program's one frame source from start-up
// until the program ends; quitting or closing releases it and ends the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "classBMPAVI.h"
#include "form.h"

class frmMain : public tk::Form {
 public:
  frmMain();
  ~frmMain() override;

 private:
  friend struct frmMainProbe;  // tests look at the state

  // Menus, in the order of the menu bar; the letters in parentheses are plain text.
  tk::Menu& FileManu = AddMenu(" ﾌｧｲﾙ(F)");
  tk::Menu& OpenFileMenu = FileManu.AddItem(" AVIを開く(O)");
  tk::Menu& SaveFileManu = FileManu.AddItem(" BMPを保存(S)");
  tk::Menu& QuitFileMenu = FileManu.AddItem(" 終了(Q)");
  tk::Menu& SeparateMenu = AddMenu(" ﾌﾚｰﾑﾚｰﾄ(S)");
  tk::Menu& Separate30Menu = SeparateMenu.AddItem("1/30(3)");
  tk::Menu& Separate60Menu = SeparateMenu.AddItem("1/60(6)");
  tk::Menu& DivMenu = AddMenu(" 分離優先行(D)");
  tk::Menu& OddDivMenu = DivMenu.AddItem("奇数行(O)");
  tk::Menu& EvenDivMenu = DivMenu.AddItem("偶数行(E)");
  tk::Menu& HelpMenu = AddMenu(" ﾍﾙﾌﾟ(H)");
  tk::Menu& AboutHelpMenu = HelpMenu.AddItem(" Dovrelについて(A)");

  // Controls, in creation order (logical pixels of the 96-dpi layout).
  tk::HScrollBar& HScroll = AddHScrollBar(168, 0, 553, 19);
  tk::Label& Label = AddLabel(0, 0, 169, 19);

  // State.
  std::string strOpenFile;     // path chosen by the open dialog or a drop: input of loading
  std::string strAVIFile;      // path of the loaded video; empty while none is loaded
  int16_t bln30Mode = kFalse;  // True: 1/30 whole-frame view; False: 1/60 field view
  int16_t intDivLine = 0;      // field priority: 1 odd lines first, 0 even lines first
  std::unique_ptr<classBMPAVI> objBMPAVI;  // the frame source
  int32_t lngFrameNo = 0;                  // frame last fetched for the scroll position
  int16_t intSepType = 0;                  // field type last computed for the scroll position
  int32_t lngDispWidth = 0;                // display rectangle, pixels (720 once a video is loaded)
  int32_t lngDispHeight = 0;               // (480 once a video is loaded)
  bool blnToldLimit60 = false;             // the user knows the 1/60 view is cut short

  // Event handlers.
  void Form_Load();
  void Form_Activate();
  void Form_Click();
  void Form_Unload();
  void Form_OLEDragDrop(tk::DataObject& Data);
  void HScroll_Change();
  void HScroll_Scroll();
  void OpenFileMenu_Click();
  void SaveFileManu_Click();
  void QuitFileMenu_Click();
  void Separate30Menu_Click();
  void Separate60Menu_Click();
  void OddDivMenu_Click();
  void EvenDivMenu_Click();
  void AboutHelpMenu_Click();

  // Procedures.
  void InitMain();
  void TermMain();
  void ShowDIB();
  void LoadAVI();
  int32_t GetFrameNo();
  int16_t GetSeparateType();
  void PaintPosition();  // what both scroll-bar events do
  void ReturnToStartUp();
  // The one place that enables and disables the commands that need a video.
  void EnableCommands(bool videoLoaded, bool fieldView);
};
