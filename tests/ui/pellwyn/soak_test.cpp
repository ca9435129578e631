// The real window, Load after Load on the real fixtures: each recovery broken off at a moment
// a seeded generator picks (Stop in the scan, the window closed while the scan runs, or Exit
// right after a preview page was asked for), then Exit. The window must be gone within 2 s of
// Exit with every thread of the recovery ended. PELLWYN_SOAK_COUNT raises the number of runs,
// PELLWYN_SOAK_SEED replays one.
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <QTreeWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "ui/pellwyn/pellwyndlg.h"
#include "ui/pellwyn/progressdlg.h"
#include "desktoptest.h"

using desktoptest::Harness;

namespace {

using Clock = std::chrono::steady_clock;

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(entry.path().filename().string());
  return ids;
}

// The names of the threads that were not there before, for the failure message.
QString NewThreads(const std::set<std::string>& before) {
  QStringList names;
  for (const std::string& id : ThreadIds()) {
    if (before.count(id)) continue;
    std::string name = testsupport::ReadFile("/proc/self/task/" + id + "/comm");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    names << QString::fromStdString(id + " " + name);
  }
  return names.join(QStringLiteral(", "));
}

long long EnvNumber(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoll(text) : fallback;
}

QString StatusOfTheDialog(const Harness& h) {
  CProgressDlg* dialog = h.window->ProgressDialog();
  QLabel* label = dialog ? dialog->findChild<QLabel*>(QStringLiteral("statusText")) : nullptr;
  return label ? label->text() : QString();
}

enum class Moment { StopInTheScan, CloseInTheScan, ExitAfterPreview };

}  // namespace

class SoakTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void loadStopExitAgainAndAgain();
};

void SoakTest::loadStopExitAgainAndAgain() {
  struct Source {
    const char* name;
    int version;
  };
  const Source fixtures[] = {{"bak2008_northwind_thuyluv.bak", 3},
                             {"bak2005_northwnd_mina.bak", 2},
                             {"bak2008_library_small.bak", 3}};
  std::vector<std::pair<std::string, int>> sources;
  for (const Source& s : fixtures) {
    const std::string path = testsupport::FixturePath(s.name);
    if (!path.empty()) sources.emplace_back(path, s.version);
  }
  // Load takes backups only: the 2000 engine gets its real pages in a backup's framing.
  testsupport::TempDir dir;
  if (const std::string wrapped = testsupport::Northwind2000Backup(dir); !wrapped.empty())
    sources.emplace_back(wrapped, 1);
  if (sources.empty()) QSKIP("fixtures not available");
  const long long count = EnvNumber("PELLWYN_SOAK_COUNT", 50);
  const auto seed = std::uint64_t(EnvNumber("PELLWYN_SOAK_SEED", 20260101));
  std::mt19937_64 random(seed);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

  const std::set<std::string> threadsBefore = ThreadIds();
  int byMoment[3] = {};
  long long slowestMs = 0;
  for (long long i = 0; i < count; ++i) {
    const auto& [path, version] = sources[size_t(i) % sources.size()];
    const Moment moment = Moment(pick(0, 2));
    ++byMoment[int(moment)];
    const QByteArray what = QStringLiteral("run %1 (seed %2) of %3, moment %4")
                                .arg(i)
                                .arg(seed)
                                .arg(QString::fromStdString(std::filesystem::path(path).filename().string()))
                                .arg(int(moment))
                                .toLocal8Bit();
    {
      Harness h;
      h.window->show();
      h.prompts.files = {path};
      h.prompts.versions = {version};
      h.prompts.sets = {1};
      h.Trigger(kCmdLoad);
      QVERIFY2(h.window->ProgressDialog(), what.constData());
      if (moment == Moment::ExitAfterPreview) {
        QVERIFY2(QTest::qWaitFor([&] { return StatusOfTheDialog(h) == QLatin1String("Recovery Complete"); }, 60000),
                 what.constData());
        h.window->ProgressDialog()->findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
        QVERIFY2(QTest::qWaitFor([&] { return !h.window->ProgressDialog(); }, 10000), what.constData());
        QTreeWidgetItem* tables = h.Folder(0);
        if (tables->childCount() > 0) {
          h.Tree()->setCurrentItem(tables->child(pick(0, tables->childCount() - 1)));
          QTest::qWait(pick(0, 20));
          auto* next = h.window->findChild<QPushButton*>(QStringLiteral("id1071"));
          if (next && next->isEnabled() && pick(0, 1)) next->click();
        }
      } else {
        QTest::qWait(pick(0, 40));
        if (CProgressDlg* dialog = h.window->ProgressDialog()) {
          h.prompts.yesNo = {true};
          if (moment == Moment::StopInTheScan)
            dialog->findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
          else
            dialog->close();
        }
      }

      // Exit, answered Yes, whatever still runs.
      h.prompts.yesNo = {true, true};
      const auto exited = Clock::now();
      h.Trigger(kCmdExit);
      QVERIFY2(QTest::qWaitFor([&] { return !h.window->isVisible(); }, 2000), what.constData());
      QVERIFY2(h.window->AllThreadsEnded(), what.constData());
      h.window.reset();
      // Qt's own idle pool workers (the toolkit starts them for its own work; the program
      // queues nothing there) would otherwise stay for their 30 s expiry.
      QThreadPool::globalInstance()->waitForDone(1000);
      const bool gone = QTest::qWaitFor([&] { return ThreadIds().size() <= threadsBefore.size(); }, 2000);
      QVERIFY2(gone, (what + " left " + NewThreads(threadsBefore).toLocal8Bit()).constData());
      const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exited).count();
      QVERIFY2(ms < 2000, what.constData());
      slowestMs = std::max(slowestMs, ms);
    }
  }
  qInfo("desktop soak: %lld runs; stopped in the scan %d, closed in the scan %d, exit after a preview %d; "
        "slowest exit %lld ms",
        count, byMoment[0], byMoment[1], byMoment[2], slowestMs);
}

DESKTOP_TEST(SoakTest);

#include "soak_test.moc"
