// The console window port of loftwise-cli: the JSON event lines are a contract for scripts,
// questions are answered from presets or the terminal, and posted events run on the thread
// that drains the queue.
#include "cli/console_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

namespace lw::cli {
namespace {

struct Console {
  explicit Console(ConsoleOptions options, const std::string& input = "")
      : in(input), port(options, out, err, in) {}
  std::ostringstream out, err;
  std::istringstream in;
  ConsolePort port;
};

ConsoleOptions Json(std::optional<bool> preset = std::nullopt) {
  ConsoleOptions o;
  o.json = true;
  o.presetAnswer = preset;
  return o;
}

TEST(ConsolePortTest, JsonEventsAreOneObjectPerLineInTheAgreedShapes) {
  Console c(Json(false));
  c.port.LogLine("Read \"x\"\n");
  c.port.SetProgressRange("Writing arm_main", 40);
  c.port.SetProgress(7);
  c.port.ShowNotice("Open USB failed!", true);
  c.port.Notify(Notice{"CanNotAcceptFile", NoticeIcon::Error, "Error"});
  EXPECT_FALSE(c.port.AskYesNo("Restore?", true));
  c.port.Report(ReportCode::ReadError, UpgradeFailure{kValidationFailed, 1});
  c.port.Report(ReportCode::SerialBeyond, TwoTexts{"123", "456"});
  c.port.Report(ReportCode::PackageError, ImageLoadFailure{0, "[gif package] Cannot open image file /x.bin."});
  c.port.Report(ReportCode::RcdbFormatError, 3);
  c.port.Report(ReportCode::Finished, {});
  EXPECT_EQ(c.out.str(),
            "{\"event\":\"log\",\"text\":\"Read \\\"x\\\"\\n\"}\n"
            "{\"event\":\"phase\",\"text\":\"Writing arm_main\",\"total\":40}\n"
            "{\"event\":\"progress\",\"position\":7}\n"
            "{\"event\":\"notice\",\"text\":\"Open USB failed!\",\"warning\":true,\"icon\":\"warning\"}\n"
            "{\"event\":\"notice\",\"text\":\"CanNotAcceptFile\",\"warning\":false,\"icon\":\"error\","
            "\"caption\":\"Error\"}\n"
            "{\"event\":\"question\",\"text\":\"Restore?\",\"answer\":false}\n"
            "{\"event\":\"report\",\"code\":9,\"error\":-8001,\"rcdbSaved\":true}\n"
            "{\"event\":\"report\",\"code\":24,\"payload\":\"123\"}\n"
            "{\"event\":\"report\",\"code\":10,\"detail\":\"[gif package] Cannot open image file /x.bin.\"}\n"
            "{\"event\":\"report\",\"code\":21,\"parseError\":3}\n"
            "{\"event\":\"report\",\"code\":2}\n");
  EXPECT_EQ(c.err.str(), "") << "no progress bar drawing in JSON mode";
}

TEST(ConsolePortTest, QuestionsOnTheTerminalTakeTheTypedAnswerOrThePreselectedOne) {
  struct Case {
    std::string typed;
    bool yesDefault;
    bool expected;
  };
  for (const Case& k : {Case{"y\n", false, true}, Case{"No\n", true, false}, Case{"\n", true, true},
                        Case{"\n", false, false}, Case{"maybe\nyes\n", false, true}, Case{"", true, true}}) {
    ConsoleOptions o;
    o.interactive = true;
    Console c(o, k.typed);
    EXPECT_EQ(c.port.AskYesNo("Sure?", k.yesDefault), k.expected) << "typed " << k.typed;
  }
  ConsoleOptions preset;
  preset.interactive = true;
  preset.presetAnswer = true;
  Console c(preset, "n\n");
  EXPECT_TRUE(c.port.AskYesNo("Sure?", false)) << "--yes wins over the terminal";
  EXPECT_NE(c.out.str().find("Sure? yes (--yes)"), std::string::npos);
}

TEST(ConsolePortTest, PlainOutputTimeStampsLogLinesAndMarksWarnings) {
  Console c(ConsoleOptions{});
  c.port.LogLine("Upgrading Finished!");
  c.port.ShowNotice("Open USB failed!", true);
  c.port.ShowNotice("Upgrading Finished!", false);
  std::string text = c.out.str();
  ASSERT_GE(text.size(), 11u);
  EXPECT_EQ(text[0], '[');
  EXPECT_EQ(text.substr(9, 2), "] ");
  EXPECT_NE(text.find("] Upgrading Finished!\nwarning: Open USB failed!\nUpgrading Finished!\n"), std::string::npos);
}

TEST(ConsolePortTest, ProgressBarShowsThePhaseAndKeepsLogLinesReadable) {
  ConsoleOptions o;
  o.progressBar = true;
  Console c(o);
  c.port.SetProgressRange("Writing cps_data", 4);
  c.port.SetProgress(2);
  c.port.SetProgress(2);  // unchanged: not drawn again
  c.port.LogLine("half way");
  std::string bar = c.err.str();
  EXPECT_NE(bar.find("Writing cps_data [###############...............] 50%"), std::string::npos);
  // The bar is taken off the line before the log line and drawn again after it.
  size_t drawn = 0;
  for (size_t at = bar.find("] 50%"); at != std::string::npos; at = bar.find("] 50%", at + 1)) ++drawn;
  EXPECT_EQ(drawn, 2u);
  EXPECT_NE(c.out.str().find("half way"), std::string::npos);
}

TEST(ConsolePortTest, PostedEventsRunOnTheDrainingThreadAndTicksKeepComing) {
  Console c(ConsoleOptions{});
  std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<int> ran{0};
  bool onMainThread = true;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i)
      c.port.Post([&] {
        onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
        ++ran;
      });
  });
  int ticks = 0;
  c.port.RunUntil([&] { return ran == 100 && ticks >= 2; }, [&] { ++ticks; }, std::chrono::milliseconds(5));
  worker.join();
  EXPECT_EQ(ran.load(), 100);
  EXPECT_TRUE(onMainThread);
  EXPECT_GE(ticks, 2);
}

}  // namespace
}  // namespace lw::cli
