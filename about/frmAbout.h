// The About box: the program's title, version, what it is for and a rights notice, with an OK
// button. A fixed dialog at a fixed place on the screen, always shown modally; closing destroys
// it, so each showing is a new box that runs its load event afresh.
#pragma once

#include <array>

#include "form.h"

class frmAbout : public tk::Form {
 public:
  frmAbout();
  ~frmAbout() override;

 private:
  friend struct frmAboutProbe;  // tests look at the controls

  // Controls, in creation order (logical pixels of the 96-dpi layout).
  tk::PictureBox& picIcon = AddPictureBox(16, 16, 36, 36);
  tk::CommandButton& cmdOK = AddCommandButton(291, 175, 84, 23);
  tk::Line& line1Index1_ = AddLine(6, 163, 377, 163);
  tk::Label& lblDescription = AddLabel(70, 75, 259, 78);
  tk::Label& Quorlin = AddLabel(70, 16, 267, 16);  // the title label
  tk::Line& line1Index0_ = AddLine(7, 164, 377, 164);
  tk::Label& lblVersion = AddLabel(72, 40, 267, 15);
  tk::Label& lblDisclaimer = AddLabel(17, 175, 266, 55);
  // The etched separator, by index: white below, grey above.
  std::array<tk::Line*, 2> Line1 = {&line1Index0_, &line1Index1_};

  void Form_Load();
  void cmdOK_Click();
};

// Creates an About box, shows it modally without an owner window and returns once it is closed
// (OK, Enter, Esc or the close box). The window that was active is then activated again.
void ShowAboutBox();
