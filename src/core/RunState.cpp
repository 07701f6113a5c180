#include "core/RunState.h"

namespace sk {
namespace {

// Whether a command may start while a run of each kind is under way. List
// edits wait for a search and are off during a copy run and an update check;
// a resume run leaves the main list's removals to the user and the settings
// dialog (modeless) stays at hand, but no command that opens a modal dialog
// or a pop-up menu runs beside any run. The image of a disc is a rescue of
// the whole disc: it holds everything a copy run holds.
constexpr bool kMay[6][kRunCommands] = {
    //               Start  Resumak Update List  Search Drop   SaveLog AddFil Folder MapFil ResAdd ProgFl Settng About  Menu   Image  ImgFil
    /* nothing */   {true,  true,   true,  true,  true,  true,  true,   true,  true,  true,  true,  true,  true,  true,  true,  true,  true},
    /* copy run */  {false, false,  false, false, false, false, false,  false, false, false, false, false, false, false, false, false, false},
    /* "Resumak" */ {false, false,  false, true,  false, false, false,  false, false, false, false, false, true,  false, false, false, false},
    /* search */    {false, false,  false, false, false, false, false,  false, false, false, false, false, true,  false, false, false, false},
    /* update */    {false, false,  false, false, false, false, false,  false, false, false, false, false, false, false, false, false, false},
    /* image */     {false, false,  false, false, false, false, false,  false, false, false, false, false, false, false, false, false, false},
};

// The command that starts a run of `kind`.
RunCommand StartCommand(RunKind kind) {
  switch (kind) {
    case RunKind::Copy: return RunCommand::Start;
    case RunKind::Resume: return RunCommand::ResumeStart;
    case RunKind::Search: return RunCommand::FolderSearch;
    case RunKind::Image: return RunCommand::ImageStart;
    default: return RunCommand::UpdateCheck;
  }
}

}  // namespace

bool MayStart(RunKind running, bool closePending, RunCommand command) {
  if (closePending) return false;
  return kMay[static_cast<int>(running)][static_cast<int>(command)];
}

bool RunState::Begin(RunKind kind) {
  if (kind == RunKind::None || !May(StartCommand(kind))) return false;
  running_ = kind;
  return true;
}

}  // namespace sk
