#pragma once
// A child program for the launch-with-pipe tests: the test executable run
// again as
//   <self> -pipeChild <mode> <launch arguments...> [extra arguments...]
// It connects back to its parent as the program's roles do, then:
//   echo   answers each "ping" message (a string32) with "pong": the same
//          text, its process id and its parent's id (s64 each), until the
//          channel closes;
//   lines  writes "one\ntwo\n" and ends;
//   args   writes its remaining arguments and its process id, one per line,
//          and ends;
//   save   copies everything it receives into the file named by its first
//          extra argument, until the channel closes.
// A failure is written to stderr and ends it with status 3.

namespace os_test {

// Returns false unless argv[1] is "-pipeChild"; otherwise runs the child
// and stores its exit status in code.
bool runPipeChildIfAsked(int argc, char** argv, int& code);

}  // namespace os_test
