// The C++ runtime's per-thread exception record, defined here so that the
// runtime's own definition is not linked in. Its definition uses the general
// thread-local storage model, whose __tls_get_addr ties a program with a
// statically linked C++ runtime to the dynamic loader by name; the programs
// need nothing but libc at run time. Linked into the two programs only.
//
// The layout is the C++ ABI's: the innermost caught exception and the count
// of uncaught ones. The record is thread-local all the same (the initial-exec
// model, which needs no call), and larger than the ABI's, should a target
// add fields to it.
namespace {

struct exception_globals {
    void* caught_exceptions;
    unsigned int uncaught_exceptions;
    void* reserved[2];
};

[[gnu::tls_model("initial-exec")]] thread_local exception_globals globals{};

}  // namespace

// NOLINTNEXTLINE(bugprone-reserved-identifier): the runtime's own name, on purpose
extern "C" void* __cxa_get_globals() noexcept { return &globals; }
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" void* __cxa_get_globals_fast() noexcept { return &globals; }
