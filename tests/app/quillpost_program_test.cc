// The program itself, as scripts and people start it: scripted runs against
// our gateway, the single-instance rule between two real processes, and the
// data directory question.
#include <gtest/gtest.h>

#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <chrono>
#include <thread>

#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "platform/utf.h"
#include "store/data_dir_registry.h"
#include "store/global_settings.h"
#include "tests/temp_dir.h"
#include "tests/ui/ui_rig.h"

namespace quill {
namespace app {
namespace {

struct ProgramRun {
  int exit_code = -1;
  QString out, err;
};

class QuillpostProgramTest : public ::testing::Test {
 protected:
  QProcessEnvironment Env() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(home_.path() + "/config"));
    env.insert("XDG_DATA_HOME", QString::fromStdString(home_.path() + "/data"));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home_.path() + "/run"));
    return env;
  }

  QString WriteScript(const std::string& text) {
    const std::string path = home_.path() + "/script" + std::to_string(++scripts_) + ".txt";
    EXPECT_TRUE(DefaultFileSystem()->ReplaceAtomically(path, ByteView(text)));
    return QString::fromStdString(path);
  }

  void Launch(QProcess* p, const QStringList& args) {
    p->setProcessEnvironment(Env());
    p->start(QUILLPOST_BINARY, args);
    ASSERT_TRUE(p->waitForStarted(10000));
  }

  ProgramRun Finish(QProcess* p) {
    ProgramRun r;
    EXPECT_TRUE(p->waitForFinished(120000));
    r.exit_code = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -2;
    r.out = QString::fromUtf8(p->readAllStandardOutput());
    r.err = QString::fromUtf8(p->readAllStandardError());
    return r;
  }

  ProgramRun Quillpost(const QStringList& args) {
    QProcess p;
    Launch(&p, args);
    return Finish(&p);
  }

  QString DataDir() const { return QString::fromStdString(home_.path() + "/client"); }

  TempDir home_;
  int scripts_ = 0;
};

TEST_F(QuillpostProgramTest, ScriptSignsInThroughTheLoginScreenAndDumpsTheList) {
  ui::GatewayRig rig;
  rig.Populate(5);
  rig.Start();
  const std::string shot = home_.path() + "/main.png";
  const QString script = WriteScript(
      "# the login screen is up first\n"
      "dump\n"
      "type alice\n"
      "key Return\n"
      "type secret\n"
      "menu 1\n"
      "wait\n"
      "dump\n"
      "shot " + shot + "\n");
  const ProgramRun r = Quillpost({"--data", DataDir(), "--gateway-config",
                           QString::fromStdString(rig.client_config()), "--script", script});
  EXPECT_EQ(r.exit_code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("title: 登录您的邮箱")) << r.out.toStdString();
  // Five mails, every third read: two of them (0 and 3) are read.
  EXPECT_TRUE(r.out.contains("title: Quillpost (3)")) << r.out.toStdString();
  EXPECT_EQ(r.out.count("\tunread\n"), 3);
  EXPECT_EQ(r.out.count("\tread\n"), 2);
  EXPECT_TRUE(r.out.contains("Sender 4\t")) << r.out.toStdString();
  EXPECT_TRUE(QFile::exists(QString::fromStdString(shot)));
  // An orderly exit: the traffic totals stored and the run marked ended.
  store::GlobalSettings settings(DefaultFileSystem());
  settings.SetDataDir(DataDir().toStdString());
  EXPECT_EQ(settings.Get(store::global_keys::kAbnormalOutFlag), 0);
  EXPECT_GT(settings.Get(store::global_keys::kTotalRecvNetFlow), 0u);
}

TEST_F(QuillpostProgramTest, AStepThatCannotBeDoneNamesItselfAndExitsWith1) {
  const QString script = WriteScript("dump\nanswer 是\n");
  const ProgramRun r = Quillpost({"--data", DataDir(), "--script", script});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.err.contains("script line 2: answer 是:")) << r.err.toStdString();
  const ProgramRun bad = Quillpost({"--data", DataDir(), "--script", WriteScript("fly 1 2\n")});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_TRUE(bad.err.contains("line 1: fly 1 2: unknown step")) << bad.err.toStdString();
}

TEST_F(QuillpostProgramTest, ASecondCopyHandsOverAndExitsWith1) {
  QProcess first;
  // The first copy stays at its login screen until it is stopped.
  Launch(&first, {"--data", DataDir()});
  // Once the first holds the data, the second must defer to it (it may not
  // listen yet: the second then retries).
  const std::string lock = DataDir().toStdString() + "/quillpost.lock";
  for (int i = 0; i < 2000 && !DefaultFileSystem()->Exists(lock); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(DefaultFileSystem()->Exists(lock));
  const ProgramRun second = Quillpost({"--data", DataDir(), "--scale", "1"});
  EXPECT_EQ(second.exit_code, 1) << second.err.toStdString();
  first.terminate();
  const ProgramRun r = Finish(&first);
  EXPECT_TRUE(r.err.contains("another copy handed over:")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("--scale 1")) << r.err.toStdString();
}

TEST_F(QuillpostProgramTest, ACopyThatHoldsTheDataButNeverAnswersIsNotJoined) {
  ASSERT_TRUE(DefaultFileSystem()->MakeDirs(DataDir().toStdString()));
  QLockFile lock(DataDir() + "/quillpost.lock");
  ASSERT_TRUE(lock.tryLock(0));  // held by this test process, which never listens
  const ProgramRun r = Quillpost({"--data", DataDir(), "--script", WriteScript("dump\n")});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_TRUE(r.err.contains("does not answer")) << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());
}

// A new installation finds the last run's data elsewhere: it asks once, and
// the answer is remembered under its own directory.
TEST_F(QuillpostProgramTest, TheDataDirectoryQuestionIsAskedOnce) {
  const std::string old_dir = home_.path() + "/old-data";
  RegistryStore registry(DefaultFileSystem(), home_.path() + "/config/quillpost");
  ASSERT_TRUE(store::SetLastRunConfigPath(&registry, Utf8ToUtf16(old_dir)));
  const QString first = WriteScript("dump\nanswer 是\ndump\n");
  const ProgramRun asked = Quillpost({"--script", first});
  EXPECT_EQ(asked.exit_code, 0) << asked.err.toStdString();
  EXPECT_TRUE(asked.out.contains("text: 检查到您上次安装路径 " + QString::fromStdString(old_dir)))
      << asked.out.toStdString();
  EXPECT_TRUE(DefaultFileSystem()->Exists(old_dir + "/global.cfg"));
  // The second run asks nothing: its first dump is the login screen.
  const ProgramRun again = Quillpost({"--script", WriteScript("dump\n")});
  EXPECT_EQ(again.exit_code, 0) << again.err.toStdString();
  EXPECT_FALSE(again.out.contains("检查到您上次安装路径"));
  EXPECT_TRUE(again.out.contains("title: 登录您的邮箱")) << again.out.toStdString();
}

}  // namespace
}  // namespace app
}  // namespace quill
