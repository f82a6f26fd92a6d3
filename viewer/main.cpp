// Dovrel: the program starts by creating and showing its main window.
#include "frmMain.h"
#include "program.h"

int main(int argc, char** argv) {
  tk::Application app(argc, argv);
  frmMain form;
  form.Show();
  return app.Run();
}
