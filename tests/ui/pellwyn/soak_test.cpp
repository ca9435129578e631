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
#include <functional>
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

struct Source {
  const char* name;
  int version;  // as the version dialog gives it
};

}  // namespace

class SoakTest : public desktoptest::DesktopTestCase {
  Q_OBJECT

 private slots:
  void initTestCase();
  void loadStopExitAgainAndAgain();
  void loadAfterLoadInOneWindowThenExit();

 private:
  using Pick = std::function<int(int, int)>;
  // Load of `source` in the window, broken off at `moment`.
  void LoadAndBreakOff(Harness& h, const std::pair<std::string, int>& source, Moment moment, const Pick& pick,
                       const QByteArray& what);
  // Exit answered Yes: the window gone and every thread of the recoveries with it, within 2 s.
  void ExitWithin2s(Harness& h, const QByteArray& what);
  // The threads before the test function's first Load.
  void Begin();

  testsupport::TempDir m_dir;
  std::vector<std::pair<std::string, int>> m_sources;
  std::set<std::string> m_threadsBefore;
  long long m_count = 0;
  std::uint64_t m_seed = 0;
  long long m_slowestExitMs = 0;
};

void SoakTest::initTestCase() {
  {
    const Source fixtures[] = {{"bak2008_northwind_thuyluv.bak", 3},
                               {"bak2005_northwnd_mina.bak", 2},
                               {"bak2008_library_small.bak", 3}};
    for (const Source& s : fixtures) {
      const std::string path = testsupport::FixturePath(s.name);
      if (!path.empty()) m_sources.emplace_back(path, s.version);
    }
    // Load takes backups only: the 2000 engine gets its real pages in a backup's framing.
    if (const std::string wrapped = testsupport::Northwind2000Backup(m_dir); !wrapped.empty())
      m_sources.emplace_back(wrapped, 1);
  }
  if (m_sources.empty()) QSKIP("fixtures not available");
  m_count = EnvNumber("PELLWYN_SOAK_COUNT", 50);
  m_seed = std::uint64_t(EnvNumber("PELLWYN_SOAK_SEED", 20260101));
}

void SoakTest::Begin() {
  m_threadsBefore = ThreadIds();
  m_slowestExitMs = 0;
}

void SoakTest::LoadAndBreakOff(Harness& h, const std::pair<std::string, int>& source, Moment moment, const Pick& pick,
                               const QByteArray& what) {
  h.prompts.files = {source.first};
  h.prompts.versions = {source.second};
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
      if (moment == Moment::StopInTheScan) {
        auto* button = dialog->findChild<QPushButton*>(QStringLiteral("stopButton"));
        button->click();
        // A stop in the middle keeps the dialog on "Recovery stopped" until Close.
        if (h.window->ProgressDialog() == dialog && dialog->isVisible()) button->click();
      } else {
        dialog->close();
      }
      QVERIFY2(QTest::qWaitFor([&] { return !h.window->ProgressDialog(); }, 10000), what.constData());
    }
  }
}

void SoakTest::ExitWithin2s(Harness& h, const QByteArray& what) {
  h.prompts.yesNo = {true, true};
  const auto exited = Clock::now();
  h.Trigger(kCmdExit);
  QVERIFY2(QTest::qWaitFor([&] { return !h.window->isVisible(); }, 2000), what.constData());
  QVERIFY2(h.window->AllThreadsEnded(), what.constData());
  h.window.reset();
  // Qt's own idle pool workers (the toolkit starts them for its own work; the program queues
  // nothing there) would otherwise stay for their 30 s expiry.
  QThreadPool::globalInstance()->waitForDone(1000);
  const bool gone = QTest::qWaitFor([&] { return ThreadIds().size() <= m_threadsBefore.size(); }, 2000);
  QVERIFY2(gone, (what + " left " + NewThreads(m_threadsBefore).toLocal8Bit()).constData());
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exited).count();
  QVERIFY2(ms < 2000, what.constData());
  m_slowestExitMs = std::max(m_slowestExitMs, ms);
}

QByteArray Describe(long long run, std::uint64_t seed, const std::string& path, Moment moment) {
  return QStringLiteral("run %1 (seed %2) of %3, moment %4")
      .arg(run)
      .arg(seed)
      .arg(QString::fromStdString(std::filesystem::path(path).filename().string()))
      .arg(int(moment))
      .toLocal8Bit();
}

// A fresh program for each recovery: Load, broken off, Exit.
void SoakTest::loadStopExitAgainAndAgain() {
  Begin();
  std::mt19937_64 random(m_seed);
  const Pick pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  int byMoment[3] = {};
  for (long long i = 0; i < m_count; ++i) {
    const auto& source = m_sources[size_t(i) % m_sources.size()];
    const Moment moment = Moment(pick(0, 2));
    ++byMoment[int(moment)];
    const QByteArray what = Describe(i, m_seed, source.first, moment);
    Harness h;
    h.window->show();
    LoadAndBreakOff(h, source, moment, pick, what);
    if (QTest::currentTestFailed()) return;
    ExitWithin2s(h, what);
    if (QTest::currentTestFailed()) return;
  }
  qInfo("desktop soak: %lld runs; stopped in the scan %d, closed in the scan %d, exit after a preview %d; "
        "slowest exit %lld ms",
        m_count, byMoment[0], byMoment[1], byMoment[2], m_slowestExitMs);
}

// One program for every recovery, as a user loads one backup after another (the next Load
// comes whatever the last one left running), and one Exit at the end.
void SoakTest::loadAfterLoadInOneWindowThenExit() {
  Begin();
  std::mt19937_64 random(m_seed + 1);
  const Pick pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  Harness h;
  h.window->show();
  for (long long i = 0; i < m_count; ++i) {
    const auto& source = m_sources[size_t(i) % m_sources.size()];
    const Moment moment = Moment(pick(0, 2));
    LoadAndBreakOff(h, source, moment, pick, Describe(i, m_seed + 1, source.first, moment));
    if (QTest::currentTestFailed()) return;
  }
  ExitWithin2s(h, QByteArrayLiteral("the exit after every load"));
  qInfo("desktop soak in one window: %lld loads, exit in %lld ms", m_count, m_slowestExitMs);
}

DESKTOP_TEST(SoakTest);

#include "soak_test.moc"
