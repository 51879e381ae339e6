#pragma once
// The receiving side of a launch as another user.  A root process that
// launches a child with a run-as uid starts its own executable as
//   <self> -setuidhelper <uid> <absolute command> [arguments...]
// and every main of the program calls runSetuidHelperIfAsked first, before
// anything else is set up.

namespace os {

// Returns at once unless argv[1] is "-setuidhelper".  Otherwise takes on
// the account of the uid (supplementary groups, group, then user), makes
// sure root cannot be regained and execs the command; on any failure it
// prints the error to stderr and ends with status 127.  Never returns then.
void runSetuidHelperIfAsked(int argc, char** argv);

}  // namespace os
