// Writes the program's icon as PNG files for the desktop's icon theme, one per size:
//   dovrel-make-icons OUTDIR SIZE...      (OUTDIR/dovrel-SIZE.png)
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "appicon.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(dir)) {
    std::fprintf(stderr, "%s: cannot make %s\n", argv[0], argv[1]);
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    const long size = std::strtol(argv[i], &end, 10);
    if (*end != '\0' || size < 1 || size > 1024) {
      std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
      return 2;
    }
    const QString path = dir + QStringLiteral("/dovrel-%1.png").arg(size);
    if (!tk::ProgramIconImage(static_cast<int>(size)).save(path, "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
