#include "system/CommandRunner.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

struct RunCase {
    const char *name;
    const char *command;
    const char *output;
};

class CommandRunnerTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(CommandRunnerTest, ReturnsEverythingTheCommandWrote) {
    EXPECT_EQ(runShellCommand(QString::fromUtf8(GetParam().command)),
              QString::fromUtf8(GetParam().output));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandRunnerTest,
    ::testing::Values(RunCase{"stdout", "echo abc", "abc\n"},
                      RunCase{"bothStreamsInOrder", "echo first >&2; echo second",
                              "first\nsecond\n"},
                      RunCase{"nothing", "true", ""},
                      RunCase{"failingCommand", "echo partial; exit 3", "partial\n"},
                      RunCase{"inputIsEmpty", "cat; echo end", "end\n"},
                      RunCase{"utf8", "printf 'Plimbo \\xe2\\x9c\\x93'", "Plimbo \u2713"},
                      RunCase{"zshSyntax", "print -r -- ${(U)${:-plimbo}}", "PLIMBO\n"}),
    [](const auto &info) { return std::string(info.param.name); });

// A background child that keeps the output open holds the runner until it closes it.
TEST(CommandRunner, WaitsForEveryHolderOfTheOutput) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runShellCommand(QStringLiteral("(sleep 1; echo late) & echo early")),
              QStringLiteral("early\nlate\n"));
    EXPECT_GE(clock.elapsed(), 900);
}

// A detached child that lets go of the output does not hold the runner.
TEST(CommandRunner, ReturnsAtOnceForADetachedChild) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(runShellCommand(QStringLiteral("setsid -f sleep 5 </dev/null >/dev/null 2>&1; "
                                             "echo started")),
              QStringLiteral("started\n"));
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST(CommandRunner, GivesTheEmptyTextWithoutAShell) {
    EXPECT_EQ(runShellCommand(QStringLiteral("echo abc"), QStringLiteral("/nonexistent/zsh")),
              QString());
}

} // namespace
