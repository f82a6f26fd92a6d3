// The main window: position label and scroll bar along the top, the picture at (0, 20) in a
// display rectangle of the picture's size (scaled down where the screen is smaller), a status line
// below it with a DV frame's recording date, time and time code, four menus. It
// owns the program's one frame source from start-up until the program ends; quitting or closing
// releases it and ends the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classBMPAVI.h"
#include "form.h"

class frmMain : public tk::Form {
 public:
  frmMain();
  ~frmMain() override;

  // The program's arguments after its name: one is a file to load once the window is up.
  void OpenArguments(const std::vector<std::string>& arguments);

 private:
  friend struct frmMainProbe;  // tests and benchmarks look at the state

  // Menus, in the order of the menu bar; the letters in parentheses are plain text.
  tk::Menu& FileManu = AddMenu(" ﾌｧｲﾙ(F)");
  tk::Menu& OpenFileMenu = FileManu.AddItem(" AVIを開く(O)");
  tk::Menu& SaveFileManu = FileManu.AddItem(" BMPを保存(S)");
  tk::Menu& CopyFileMenu = FileManu.AddItem(" ｺﾋﾟｰ(C)");
  tk::Menu& QuitFileMenu = FileManu.AddItem(" 終了(Q)");
  tk::Menu& SeparateMenu = AddMenu(" ﾌﾚｰﾑﾚｰﾄ(S)");
  tk::Menu& Separate30Menu = SeparateMenu.AddItem("1/30(3)");
  tk::Menu& Separate60Menu = SeparateMenu.AddItem("1/60(6)");
  // After a line: where the views end and stepping by scenes begins.
  tk::Menu& NextSceneMenu = (SeparateMenu.AddSeparator(), SeparateMenu.AddItem("次のシーン(N)"));
  tk::Menu& PrevSceneMenu = SeparateMenu.AddItem("前のシーン(P)");
  tk::Menu& DivMenu = AddMenu(" 分離優先行(D)");
  tk::Menu& OddDivMenu = DivMenu.AddItem("奇数行(O)");
  tk::Menu& EvenDivMenu = DivMenu.AddItem("偶数行(E)");
  tk::Menu& HelpMenu = AddMenu(" ﾍﾙﾌﾟ(H)");
  tk::Menu& AboutHelpMenu = HelpMenu.AddItem(" Dovrelについて(A)");

  // The 96-dpi layout in logical pixels, 15 twips each.
  struct Place {
    int32_t x, y, width, height;
  };
  static constexpr int32_t kClientWidth = 723;               // 10845 twips
  static constexpr int32_t kClientHeight = 499;              // 7485 twips
  static constexpr Place kHScrollPlace = {168, 0, 553, 19};  // twips 2520, 0, 8295 x 285
  static constexpr Place kLabelPlace = {0, 0, 169, 19};      // twips 0, 0, 2535 x 285
  // The picture's top-left corner, below the two controls.
  static constexpr int32_t kPictureX = 0;
  static constexpr int32_t kPictureY = 20;
  // The status line's height, below the picture: one line of the label's font.
  static constexpr int32_t kStatusHeight = 19;
  // The scroll bar stretches with the client area a load fits, this far from its right edge.
  static constexpr int32_t kHScrollRightGap = kClientWidth - kHScrollPlace.x - kHScrollPlace.width;
  // The logical scale a load sets: the width of the creation, and per display row (plus one)
  // this many units of height. No drawing uses it.
  static constexpr int32_t kScaleWidth = 10845;
  static constexpr int32_t kScaleUnitsPerRow = 20;

  // Controls, in creation order.
  tk::HScrollBar& HScroll =
      AddHScrollBar(kHScrollPlace.x, kHScrollPlace.y, kHScrollPlace.width, kHScrollPlace.height);
  tk::Label& Label = AddLabel(kLabelPlace.x, kLabelPlace.y, kLabelPlace.width, kLabelPlace.height);
  // Placed below the picture by FitToPicture; hidden while it has nothing to say.
  tk::Label& Status = AddLabel(kPictureX, kClientHeight, kClientWidth, kStatusHeight);

  // State.
  std::string strOpenFile;     // path chosen by the open dialog or a drop: input of loading
  std::string strAVIFile;      // path of the loaded video; empty while none is loaded
  int16_t bln30Mode = kFalse;  // True: 1/30 whole-frame view; False: 1/60 field view
  int16_t intDivLine = 0;      // field priority: 1 odd lines first, 0 even lines first
  std::unique_ptr<classBMPAVI> objBMPAVI;  // the frame source
  int32_t lngFrameNo = 0;                  // frame last fetched for the scroll position
  int16_t intSepType = 0;                  // field type last computed for the scroll position
  int32_t lngDispWidth = 0;                // display rectangle, pixels: the picture's size, or
  int32_t lngDispHeight = 0;               // less where the screen is smaller
  int32_t lngFitWidth = 0;                 // the frame size the window was fitted to
  int32_t lngFitHeight = 0;
  bool blnToldLimit60 = false;  // the user knows the 1/60 view is cut short

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
  void CopyFileMenu_Click();
  void QuitFileMenu_Click();
  void NextSceneMenu_Click();
  void PrevSceneMenu_Click();
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
  int16_t OpenVideo(const std::string& path);  // GetEnable with the progress of a long open
  int32_t GetFrameNo();
  int16_t GetSeparateType();
  void PaintPosition();  // what both scroll-bar events do
  void PaintPicture();   // the buffer into the display rectangle, scaled where it is smaller
  void FitToPicture();   // the display rectangle and the client area for the loaded frame size
  void ReturnToStartUp();
  void ShowRecording();           // the status line for the frame fetched last
  void GoToFrame(int32_t frame);  // the scroll bar to the frame's first position

  // Enables the commands that need a video as the state says: all of them while one is loaded
  // (strAVIFile), the priority menu only in the 1/60 view (bln30Mode), the scene commands only
  // for a video with recording times (the frame source's). Run after any of them changes.
  void UpdateCommands();
};
