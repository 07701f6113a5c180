#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RunState.h"

namespace sk {
namespace {

// The columns of the run state table in docs/architecture.md: the commands
// each stands for. Every command is in exactly one column.
struct Column {
  const char* name;
  std::vector<RunCommand> commands;
};
const std::vector<Column>& Columns() {
  static const std::vector<Column> columns = {
      {"Start", {RunCommand::Start}},
      {"\"Resumak\"'s Start", {RunCommand::ResumeStart}},
      {"\"Obraz płyty\"'s Start", {RunCommand::ImageStart}},
      {"update check", {RunCommand::UpdateCheck}},
      {"list removals", {RunCommand::ListEdit}},
      {"folder search", {RunCommand::FolderSearch}},
      {"drop", {RunCommand::Drop}},
      {"dialogs and pop-up menus",
       {RunCommand::SaveLog, RunCommand::AddFiles, RunCommand::ChooseFolder, RunCommand::MapFiles,
        RunCommand::ResumeAdd, RunCommand::ProgramFile, RunCommand::About, RunCommand::PopupMenu,
        RunCommand::ImageFiles}},
      {"\"Ustawienia programu\"", {RunCommand::Settings}},
  };
  return columns;
}

// The rows: what is under way, and per column (in the order above) whether
// its commands may start, 'y' or 'n'.
struct Row {
  RunKind running;
  const char* name;
  const char* may;
};
const Row kRows[] = {
    {RunKind::None, "nothing", "yyyyyyyyy"},
    {RunKind::Copy, "copy run", "nnnnnnnnn"},
    {RunKind::Resume, "\"Resumak\" run", "nnnnynnny"},
    {RunKind::Search, "folder search", "nnnnnnnny"},
    {RunKind::Update, "update check", "nnnnnnnnn"},
    {RunKind::Image, "image of a disc", "nnnnnnnnn"},
};

TEST(RunState, TheTableAsDocumented) {
  std::vector<int> seen(kRunCommands, 0);
  for (const Column& column : Columns())
    for (RunCommand command : column.commands) ++seen[static_cast<int>(command)];
  for (int c = 0; c < kRunCommands; ++c) EXPECT_EQ(seen[c], 1) << "command " << c << " in one column";

  for (const Row& row : kRows) {
    ASSERT_EQ(std::string(row.may).size(), Columns().size()) << row.name;
    for (size_t k = 0; k < Columns().size(); ++k) {
      const Column& column = Columns()[k];
      for (RunCommand command : column.commands) {
        const std::string where = std::string(row.name) + " under way, " + column.name + " (command " +
                                  std::to_string(static_cast<int>(command)) + ")";
        EXPECT_EQ(MayStart(row.running, false, command), row.may[k] == 'y') << where;
        // Once a close is pending nothing new starts, whatever runs.
        EXPECT_FALSE(MayStart(row.running, true, command)) << where << ", a close pending";
      }
    }
  }
}

// A run begins only where its own start command may start, and not at all
// once a close is pending; after its end the next may begin.
TEST(RunState, BeginsOneRunAtATime) {
  const RunKind kinds[] = {RunKind::Copy, RunKind::Resume, RunKind::Search, RunKind::Update, RunKind::Image};
  for (RunKind first : kinds) {
    for (RunKind second : kinds) {
      RunState state;
      EXPECT_FALSE(state.Begin(RunKind::None));
      ASSERT_TRUE(state.Begin(first));
      EXPECT_FALSE(state.Begin(second)) << static_cast<int>(first) << " then " << static_cast<int>(second);
      EXPECT_EQ(state.Running(), first);
      state.End();
      EXPECT_TRUE(state.Begin(second));
      state.SetClosePending();
      state.End();
      EXPECT_TRUE(state.ClosePending());
      EXPECT_FALSE(state.Begin(first)) << "a close pending";
      EXPECT_EQ(state.Running(), RunKind::None);
    }
  }
}

}  // namespace
}  // namespace sk
