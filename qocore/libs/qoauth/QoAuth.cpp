// The authentication-flows library.  Its units are still to come; an
// object library needs at least one source, and this empty one holds the
// folder's place in the build until then.
