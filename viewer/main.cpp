// Dovrel: the program starts by creating and showing its main window; a file named as its one
// argument ("Open with" from a file manager) is loaded then.
#include <string>
#include <vector>

#include "frmMain.h"
#include "program.h"

int main(int argc, char** argv) {
  tk::Application app(argc, argv);  // takes Qt's own options out of the arguments
  frmMain form;
  form.Show();
  form.OpenArguments(std::vector<std::string>(argv + 1, argv + argc));
  return app.Run();
}
