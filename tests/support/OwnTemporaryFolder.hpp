#pragma once

#include <functional>

namespace velmora::test {

// Runs a test program (the rest of its main) in a child process whose
// temporary folder (TMPDIR) is a new folder of its own inside this process's,
// and removes that folder once the child and every process it left behind
// have ended.
//
// Why the program cannot tidy up after itself: the web engine's network
// process writes a persistent store's data and cache folders on its own
// time, also after the test that owned them has removed them (it makes
// them again, parents included) and after the test program itself has
// exited; and the store the tests share lives until the program ends. Only
// a process that outlives the engine's processes knows when nothing can
// write there any more. So this process becomes the reaper of its
// descendants (PR_SET_CHILD_SUBREAPER): the engine's processes, orphaned
// when the program exits, become its children, and the folder goes once
// they have all been reaped. One that is still running 30 s after the
// program ended is killed first.
//
// Call it first thing in main, before any thread exists. Returns the
// program's exit status; a program ended by a signal ends this process by
// the same signal once the folder is gone. SIGINT, SIGTERM and SIGHUP are
// passed on to the program.
int runInTemporaryFolderOfItsOwn(const std::function<int()>& program);

}  // namespace velmora::test
