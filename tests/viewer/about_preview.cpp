// For a look at the About box: the main window with the box shown over it, as the Help menu
// shows it. Ends when the box is closed.
#include <QTimer>

#include "frmAbout.h"
#include "frmMain.h"
#include "program.h"

int main(int argc, char** argv) {
  tk::Application app(argc, argv);
  frmMain form;
  form.Show();
  QTimer::singleShot(0, [] {
    ShowAboutBox();
    tk::End();
  });
  return app.Run();
}
