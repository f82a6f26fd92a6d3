// The open and save commands through the dialog seam: what the dialogs are asked, a cancel, the
// BMP naming rule, saving the line-doubled field, a failed save, non-ASCII paths.
#include <QAction>
#include <QApplication>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <fstream>
#include <iterator>

#include "commdlg.h"
#include "mainwindow.h"
#include "sourceprobe.h"

namespace {

const std::string kCancelled = "キャンセルされました";

class FileCommands : public MainWindow {
 protected:
  void SetUp() override {
    MainWindow::SetUp();
    previous_ = SetFileDialogAnswerer([this](const FileDialogRequest& r) {
      requests.push_back(r);
      std::optional<std::string> answer = answers.empty() ? std::nullopt : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      return answer;
    });
  }
  void TearDown() override {
    SetFileDialogAnswerer(previous_);
    MainWindow::TearDown();
  }

  void Open(std::optional<std::string> answer) {
    answers = {std::move(answer)};
    frmMainProbe(*form).Items()[0]->Action()->trigger();
  }
  void Save(std::optional<std::string> answer) {
    answers = {std::move(answer)};
    frmMainProbe(*form).Items()[1]->Action()->trigger();
  }
  static std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::vector<FileDialogRequest> requests;
  std::vector<std::optional<std::string>> answers;

 private:
  FileDialogAnswerer previous_;
};

TEST_F(FileCommands, TheOpenDialogIsAskedForAnAviFileAndItsCancelIsTold) {
  frmMainProbe probe(*form);
  form->hDC()->Fill(0x123456);
  Open(std::nullopt);
  ASSERT_EQ(requests.size(), 1u);
  const FileDialogRequest& r = requests[0];
  EXPECT_FALSE(r.save);
  EXPECT_EQ(r.owner, form->hWnd());
  EXPECT_EQ(r.title, "AVIファイルを選択");
  const std::string videos =
      "ビデオファイル (*.avi *.dv *.dif *.mov *.mp4 *.mpg *.mpeg *.vob *.mod *.ts *.m2t *.m2ts "
      "*.mts *.tod *.mkv)";
  EXPECT_EQ(r.nameFilter, videos + ";;すべてのファイル (*)");
  EXPECT_EQ(r.selectedFilter, videos);
  EXPECT_EQ(r.initialDir, tk::App::Path());
  EXPECT_EQ(r.flags, 2052u);
  EXPECT_EQ(messages, std::vector<std::string>{kCancelled});
  EXPECT_EQ(form->hDC()->pixel(5, 100), 0x123456u);  // nothing repainted
  EXPECT_TRUE(probe.strAVIFile().empty());

  // A typed name of a file that does not exist is taken, and then fails to open.
  messages.clear();
  Open(PathIn("typed.avi"));
  EXPECT_EQ(messages, std::vector<std::string>{kMsgNoStream});

  const std::string path = MakeClip("開く.avi", 720, 480, 3);
  messages.clear();
  Open(path);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(probe.strAVIFile(), path);
  EXPECT_EQ(form->Caption(), "Dovrel  " + path);
  ExpectPicture(*probe.Source());
}

TEST_F(FileCommands, SaveNamesTheFileAndWritesThePictureOnTheScreen) {
  frmMainProbe probe(*form);
  Open(MakeClip("clip.avi", 720, 480, 4));
  probe.Separate60();
  probe.HScroll().SetValue(3);  // frame 1, odd field

  struct Case {
    std::string answer, written;
  };
  for (const Case& c :
       {Case{"shot", "shot.bmp"}, Case{"shot.BMP", "shot.BMP"}, Case{"shot.bmp  ", "shot.bmp  "},
        Case{"a", "a.bmp"}, Case{"写真", "写真.bmp"}}) {
    SCOPED_TRACE(c.answer);
    form->hDC()->Fill(0x123456);
    requests.clear();
    Save(PathIn(c.answer));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].owner, nullptr);
    EXPECT_EQ(requests[0].title, "");
    EXPECT_EQ(requests[0].nameFilter, "Bitmap File(*.bmp);;PNG ファイル (*.png)");
    EXPECT_EQ(requests[0].selectedFilter, "Bitmap File(*.bmp)");  // BMP stays the default
    EXPECT_EQ(requests[0].initialDir, tk::App::Path());
    EXPECT_EQ(requests[0].flags, 2052u);

    const std::vector<uint8_t> file = Read(PathIn(c.written));
    ASSERT_EQ(file.size(), 54u + 1036800u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    // The pixels are the buffer as shown: the separated field, row pairs equal.
    const std::vector<uint8_t>& buffer = Peek(*probe.Source()).DIBBits();
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), file.begin() + 54));
    EXPECT_TRUE(std::equal(file.begin() + 54 + 2160 * 1, file.begin() + 54 + 2160 * 2,
                           file.begin() + 54 + 2160 * 2));
    ExpectPicture(*probe.Source());  // repainted after the save
  }
  EXPECT_FALSE(std::filesystem::exists(PathIn("shot.BMP.bmp")));
  EXPECT_FALSE(std::filesystem::exists(PathIn("shot.bmp  .bmp")));
  EXPECT_TRUE(messages.empty());

  // A cancelled save says nothing and repaints.
  form->hDC()->Fill(0x123456);
  Save(std::nullopt);
  EXPECT_TRUE(messages.empty());
  ExpectPicture(*probe.Source());
}

TEST_F(FileCommands, AFailedSaveIsToldAndLeavesTheOldFile) {
  frmMainProbe probe(*form);
  Open(MakeClip("clip.avi", 720, 480, 2));
  // The folder of the target is a plain file: nothing can be written there.
  const std::string notAFolder = MakeClip("plain.avi", 2, 2, 1);
  form->hDC()->Fill(0x123456);
  Save(notAFolder + "/shot.bmp");
  EXPECT_EQ(messages, std::vector<std::string>{"BMPファイルを保存できませんでした。"});
  ExpectPicture(*probe.Source());

  // A write-protected file is not replaced.
  const std::string old = PathIn("old.bmp");
  { std::ofstream(old) << "keep me"; }
  std::filesystem::permissions(old, std::filesystem::perms::owner_read);
  messages.clear();
  Save(old);
  EXPECT_EQ(messages.size(), 1u);
  const std::vector<uint8_t> kept = Read(old);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");
}

// ---- Drops -----------------------------------------------------------------------------------

class Drops : public FileCommands {
 protected:
  bool Drop(const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& p : paths)
      urls.push_back(QUrl::fromLocalFile(QString::fromUtf8(p.c_str())));
    data.setUrls(urls);
    return SimulateDrop(*form, data);
  }
};

TEST_F(Drops, TheFirstDroppedAviFileIsLoaded) {
  frmMainProbe probe(*form);
  const std::string a = MakeClip("a.avi", 720, 480, 2), b = MakeClip("b.avi", 720, 480, 3);
  const std::string text = PathIn("x.txt");
  { std::ofstream(text) << "not a video"; }

  EXPECT_TRUE(Drop({b, a, text}));  // every drop is accepted; only the first entry counts
  EXPECT_EQ(probe.strAVIFile(), b);
  EXPECT_EQ(probe.HScroll().Max(), 2);

  Drop({text, a});  // the first is not an AVI file: ignored, without a message
  EXPECT_EQ(probe.strAVIFile(), b);

  const std::string upper = MakeClip("CLIP.AVI", 720, 480, 4);
  Drop({upper});
  EXPECT_EQ(probe.strAVIFile(), upper);

  // A plain folder is ignored, whatever its name; so is an entry that names nothing.
  std::filesystem::create_directory(PathIn("folder.avi"));
  Drop({PathIn("folder.avi")});
  Drop({PathIn("nothing.avi")});
  EXPECT_EQ(probe.strAVIFile(), upper);

  // Text is not a file list.
  QMimeData words;
  words.setText(QString::fromUtf8(a.c_str()));
  EXPECT_TRUE(SimulateDrop(*form, words));
  EXPECT_EQ(probe.strAVIFile(), upper);
  EXPECT_TRUE(messages.empty());

  // A dropped AVI name that is not a video goes the way of a failed load.
  const std::string fake = PathIn("fake.avi");
  { std::ofstream(fake) << "RIFF"; }
  Drop({fake});
  EXPECT_EQ(messages, std::vector<std::string>{kMsgNoStream});
  EXPECT_EQ(probe.strAVIFile(), upper);
}

// The camcorders' containers in any letter case (an AVI under each name: the library reads by
// content), and nothing else.
TEST_F(Drops, EveryVideoExtensionInAnyCaseIsLoadedAndNothingElse) {
  frmMainProbe probe(*form);
  const std::string clip = MakeClip("clip.avi", 16, 8, 2);
  for (const auto& [name, loads] : std::vector<std::pair<std::string, bool>>{
           {"a.AVI", 1}, {"b.dv", 1},      {"c.DIF", 1}, {"d.Mov", 1}, {"e.mp4", 1},
           {"f.MPG", 1}, {"g.mpeg", 1},    {"h.VOB", 1}, {"i.mod", 1}, {"j.TS", 1},
           {"k.m2t", 1}, {"l.M2TS", 1},    {"m.mts", 1}, {"n.ToD", 1}, {"o.MKV", 1},
           {"p.mp3", 0}, {"q.mts.txt", 0}, {"rmts", 0},  {"s.m2", 0},  {"t.avi.part", 0}}) {
    SCOPED_TRACE(name);
    std::filesystem::copy_file(clip, PathIn(name));
    Drop({clip});
    Drop({PathIn(name)});
    EXPECT_EQ(probe.strAVIFile(), loads ? PathIn(name) : clip);
  }
  EXPECT_TRUE(messages.empty());
}

// "dovrel FILE": the file loads as the open command loads it, once the window is up; a relative
// name is taken from the working folder. No argument, or more than one, loads nothing.
TEST_F(FileCommands, TheOneArgumentLoadsOnceTheWindowIsUp) {
  frmMainProbe probe(*form);
  const std::string clip = MakeClip("arg.mts", 16, 8, 2);
  form->OpenArguments({});
  form->OpenArguments({clip, clip});
  QCoreApplication::processEvents();
  EXPECT_TRUE(probe.strAVIFile().empty());
  form->OpenArguments({std::filesystem::relative(clip).string()});
  EXPECT_TRUE(probe.strAVIFile().empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(probe.strAVIFile(), clip);
}

TEST_F(Drops, AJapanesePathOpensSavesAndDrops) {
  frmMainProbe probe(*form);
  std::filesystem::create_directory(PathIn("日本語のフォルダ"));
  const std::string clip = MakeClip("日本語のフォルダ/運動会 ﾋﾞﾃﾞｵ.avi", 720, 480, 3);
  Drop({clip});
  EXPECT_EQ(probe.strAVIFile(), clip);
  EXPECT_EQ(form->Caption(), "Dovrel  " + clip);
  probe.HScroll().SetValue(2);
  Save(PathIn("日本語のフォルダ/静止画"));
  const std::vector<uint8_t> file = Read(PathIn("日本語のフォルダ/静止画.bmp"));
  ASSERT_EQ(file.size(), 54u + 1036800u);
  EXPECT_TRUE(std::equal(Peek(*probe.Source()).DIBBits().begin(),
                         Peek(*probe.Source()).DIBBits().end(), file.begin() + 54));
  Open(clip);
  EXPECT_EQ(probe.strAVIFile(), clip);
  EXPECT_TRUE(messages.empty());
}

TEST_F(FileCommands, ClosingTheAboutBoxRepaintsTheLoadedVideo) {
  frmMainProbe probe(*form);
  auto closeBox = [] {
    QTimer::singleShot(0, [] {
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
  };
  // Nothing loaded: nothing painted after the box.
  form->hDC()->Fill(0x123456);
  closeBox();
  probe.Items()[7]->Action()->trigger();
  EXPECT_EQ(form->hDC()->pixel(5, 100), 0x123456u);

  Open(MakeClip("clip.avi", 720, 480, 2));
  form->hDC()->Fill(0x123456);
  closeBox();
  probe.Items()[7]->Action()->trigger();
  ExpectPicture(*probe.Source());
  EXPECT_TRUE(errors.empty());
}

}  // namespace
