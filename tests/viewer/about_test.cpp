// The About box: its texts, layout and keys; each showing is a new box that loads afresh, and the
// window that was active is activated when it closes.
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "appicon.h"
#include "frmAbout.h"
#include "labelprobe.h"
#include "recorders.h"

// Reaches into the box for the tests.
struct frmAboutProbe {
  explicit frmAboutProbe(frmAbout& f) : f(f) {}
  frmAbout& f;

  tk::PictureBox& picIcon() { return f.picIcon; }
  tk::CommandButton& cmdOK() { return f.cmdOK; }
  tk::Line& Line1(size_t index) { return *f.Line1.at(index); }
  tk::Label& lblDescription() { return f.lblDescription; }
  tk::Label& Quorlin() { return f.Quorlin; }
  tk::Label& lblVersion() { return f.lblVersion; }
  tk::Label& lblDisclaimer() { return f.lblDisclaimer; }
};

namespace {

std::string Spaces(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "\u3000";  // ideographic space
  return text;
}

const std::string kDescription =
    "デジタルビデオカメラの画像をAVIIファイルに変換しPCで見る際、動きが速いと、画像が二重に見えるこ"
    "とがあ"
    "ります。" +
    Spaces(23) +
    "このソフトは、約1/30フォレームレートで記録されているAVIファイルを再構成し、1/"
    "60フレームレートで見るこ"
    "とができるようにするために作成しました。";

class AboutBox : public SeamTest {
 protected:
  // Runs the checks once the box is up, then closes it as `close` says; a box that will not
  // close is closed after a while, so that a failure does not hang the suite.
  void WhileShown(const std::function<void()>& show, const std::function<void(QWidget*)>& checks,
                  const std::function<void(QWidget*)>& close) {
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [] {
      ADD_FAILURE() << "the box did not close";
      if (QWidget* box = QApplication::activeModalWidget()) box->hide();
    });
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      checks(box);
      rescue.start(5000);
      close(box);
    });
    show();
  }
};

TEST_F(AboutBox, TextsColoursAndLayout) {
  frmAbout box;
  frmAboutProbe probe(box);
  EXPECT_EQ(box.Caption(), "ﾊﾞｰｼﾞｮﾝ情報");  // before its load
  EXPECT_EQ(probe.lblVersion().Caption(), "");
  WhileShown([&] { box.ShowModal(); },
             [&](QWidget* shown) {
               EXPECT_EQ(shown, box.hWnd());
               EXPECT_EQ(box.Caption(), "Quorlinのﾊﾞｰｼﾞｮﾝ情報");
               EXPECT_EQ(shown->windowTitle().toStdString(), "Quorlinのﾊﾞｰｼﾞｮﾝ情報");
               EXPECT_EQ(probe.Quorlin().Caption(), "Dovrel");
               EXPECT_EQ(probe.lblVersion().Caption(), "ﾊﾞｰｼﾞｮﾝ 3.1.0");
               EXPECT_EQ(probe.lblVersion().Widget()->text().toStdString(), "ﾊﾞｰｼﾞｮﾝ 3.1.0");
               EXPECT_EQ(probe.lblDescription().Caption(), kDescription);
               EXPECT_EQ(probe.lblDescription().Widget()->text().toStdString(), kDescription);
               const std::string notice = probe.lblDisclaimer().Caption();
               EXPECT_NE(notice.find("著作権"), std::string::npos) << notice;
               EXPECT_NE(notice.find("権利"), std::string::npos) << notice;
               EXPECT_EQ(probe.lblDisclaimer().Widget()->text().toStdString(), notice);

               EXPECT_EQ(shown->focusWidget(), probe.cmdOK().Widget());
               EXPECT_TRUE(QTest::qWaitForWindowActive(shown));
               EXPECT_EQ(QApplication::focusWidget(), probe.cmdOK().Widget());
             },
             [&](QWidget*) { box.Close(); });
  EXPECT_FALSE(box.Visible());
  EXPECT_TRUE(errors.empty());

  // The description's 23 ideographic spaces stand between its two sentences.
  const std::string& text = probe.lblDescription().Caption();
  const size_t first = text.find("\u3000");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.substr(first, 23 * 3), Spaces(23));
  EXPECT_EQ(text.substr(first + 23 * 3, 3), "こ");
  EXPECT_EQ(text.substr(first - 3, 3), "。");

  // Window and controls, in logical pixels.
  EXPECT_EQ(box.ClientWidth(), 382);
  EXPECT_EQ(box.ClientHeight(), 237);
  EXPECT_EQ(box.Client()->mapToGlobal(QPoint(0, 0)), QPoint(156, 129));
  QWidget* window = box.hWnd();
  EXPECT_EQ(window->windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinMaxButtonsHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(probe.picIcon().Widget()->geometry(), QRect(16, 16, 36, 36));
  EXPECT_EQ(probe.cmdOK().Widget()->geometry(), QRect(291, 175, 84, 23));
  EXPECT_EQ(probe.lblDescription().Widget()->geometry(), QRect(70, 75, 259, 78));
  EXPECT_EQ(probe.Quorlin().Widget()->geometry(), QRect(70, 16, 267, 16));
  EXPECT_EQ(probe.lblVersion().Widget()->geometry(), QRect(72, 40, 267, 15));
  EXPECT_EQ(probe.lblDisclaimer().Widget()->geometry(), QRect(17, 175, 266, 55));
  // Stacking: labels and lines are drawn on the window, below the picture box and the button;
  // within each kind a control lies above the ones made before it.
  const QObjectList children = box.Client()->children();
  const std::vector<QWidget*> order = {probe.Line1(1).Widget(),     probe.lblDescription().Widget(),
                                       probe.Quorlin().Widget(),    probe.Line1(0).Widget(),
                                       probe.lblVersion().Widget(), probe.lblDisclaimer().Widget(),
                                       probe.picIcon().Widget(),    probe.cmdOK().Widget()};
  for (size_t i = 1; i < order.size(); ++i)
    EXPECT_LT(children.indexOf(order[i - 1]), children.indexOf(order[i])) << i;

  EXPECT_EQ(probe.cmdOK().Caption(), "OK");
  EXPECT_TRUE(probe.cmdOK().Default());
  EXPECT_TRUE(probe.cmdOK().Cancel());
  EXPECT_EQ(probe.cmdOK().TabIndex(), 0);
  for (tk::Label* label : {&probe.lblDescription(), &probe.Quorlin(), &probe.lblDisclaimer()})
    EXPECT_EQ(label->Widget()->palette().color(QPalette::WindowText), QColor(Qt::black));
  // The wrapped texts fit their labels whole.
  for (auto [label, height] :
       {std::pair{&probe.lblDescription(), 78}, std::pair{&probe.lblDisclaimer(), 55}}) {
    EXPECT_TRUE(label->Widget()->wordWrap());
    const tk::LabelProbe lines(*label);
    EXPECT_GE(lines.LineCount(), 2);
    EXPECT_LE(lines.LineCount() * lines.LinePitch(), height) << label->Caption();
  }

  // What the box shows: the icon in the picture box, the etched separator below the upper part.
  const QImage shown = box.Client()->grab().toImage();
  auto at = [&](int x, int y) { return shown.pixel(x, y) & 0xFFFFFF; };
  const QImage icon = tk::ProgramIconImage(32);
  int compared = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if (qAlpha(icon.pixel(x, y)) == 255) {
        ASSERT_EQ(at(18 + x, 18 + y), icon.pixel(x, y) & 0xFFFFFF) << x << "," << y;
        ++compared;
      }
  EXPECT_GT(compared, 500);
  EXPECT_EQ(probe.Line1(1).Color(), 0x808080u);
  EXPECT_EQ(probe.Line1(1).Width(), 1);
  EXPECT_EQ(probe.Line1(0).Color(), 0xFFFFFFu);
  EXPECT_EQ(probe.Line1(0).Width(), 2);
  const uint32_t face = at(200, 120);
  for (int x = 0; x < 382; ++x) {
    SCOPED_TRACE(x);
    EXPECT_EQ(at(x, 162), face);
    EXPECT_EQ(at(x, 163), x >= 6 && x < 377 ? 0x808080u : face);
    EXPECT_EQ(at(x, 164), x >= 7 && x < 377 ? 0xFFFFFFu : face);
    EXPECT_EQ(at(x, 165), x >= 7 && x < 377 ? 0xFFFFFFu : face);
    EXPECT_EQ(at(x, 166), face);
  }
}

TEST_F(AboutBox, OkEnterEscAndTheCloseBoxCloseItAndTheActiveWindowIsActivated) {
  tk::Form main(300, 200);
  int activations = 0;
  main.OnActivate([&] { ++activations; });
  main.Show();
  ASSERT_EQ(activations, 1);

  const std::vector<std::pair<std::string, std::function<void(QWidget*)>>> ways = {
      {"OK clicked",
       [](QWidget* box) { QTest::mouseClick(box->findChild<QPushButton*>(), Qt::LeftButton); }},
      {"Enter", [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Return); }},
      {"Esc", [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Escape); }},
      {"close box", [](QWidget* box) { box->windowHandle()->close(); }},
  };
  for (size_t i = 0; i < ways.size(); ++i) {
    SCOPED_TRACE(ways[i].first);
    QPointer<QWidget> box;
    WhileShown(
        ShowAboutBox,
        [&](QWidget* shown) {
          box = shown;
          EXPECT_EQ(shown->windowTitle().toStdString(), "Quorlinのﾊﾞｰｼﾞｮﾝ情報");
          EXPECT_EQ(shown->windowModality(), Qt::ApplicationModal);
          EXPECT_EQ(shown->parentWidget(), nullptr);  // owned by no window
          EXPECT_EQ(activations, static_cast<int>(1 + i));
        },
        ways[i].second);
    // Returned once closed; the box is gone with its window, the main window activated.
    EXPECT_TRUE(box.isNull());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(activations, static_cast<int>(2 + i));
  }
  EXPECT_EQ(activations, 1 + static_cast<int>(ways.size()));
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(ends.empty());
}

TEST_F(AboutBox, EachShowingLoadsAgainWithTheSameTexts) {
  // The same box shown twice: its load runs again and sets what it set before.
  frmAbout box;
  frmAboutProbe probe(box);
  std::vector<std::string> versions;
  for (int round = 0; round < 2; ++round) {
    WhileShown(
        [&] { box.ShowModal(); },
        [&](QWidget*) { versions.push_back(box.Caption() + "|" + probe.lblVersion().Caption()); },
        [&](QWidget* shown) { QTest::keyClick(shown->focusWidget(), Qt::Key_Escape); });
    box.SetCaption("changed");
    probe.lblVersion().SetCaption("changed");
  }
  EXPECT_EQ(versions, (std::vector<std::string>{"Quorlinのﾊﾞｰｼﾞｮﾝ情報|ﾊﾞｰｼﾞｮﾝ 3.1.0",
                                                "Quorlinのﾊﾞｰｼﾞｮﾝ情報|ﾊﾞｰｼﾞｮﾝ 3.1.0"}));

  // ShowAboutBox makes a new box each time: a new window, the same texts, the focus on OK.
  std::vector<QWidget*> windows;
  std::vector<std::string> texts;
  for (int round = 0; round < 2; ++round)
    WhileShown(
        ShowAboutBox,
        [&](QWidget* shown) {
          windows.push_back(shown);
          std::string all = shown->windowTitle().toStdString();
          for (QLabel* label : shown->findChildren<QLabel*>())
            all += "|" + label->text().toStdString();
          texts.push_back(all);
          auto* ok = qobject_cast<QPushButton*>(shown->focusWidget());
          ASSERT_NE(ok, nullptr);
          EXPECT_EQ(ok->text(), "OK");
        },
        [](QWidget* shown) { QTest::keyClick(shown->focusWidget(), Qt::Key_Return); });
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], texts[1]);
  EXPECT_NE(texts[0].find("|Dovrel|"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("|ﾊﾞｰｼﾞｮﾝ 3.1.0"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find(kDescription), std::string::npos);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
