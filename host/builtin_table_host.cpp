// The host's built-in table and its start-up fill. The rows come from every
// layer (runtime console and dialogs, engine debugger and threads, LAPACK
// rows, file and serial libraries); the host links them all, so each row names
// its function here once it exists. Never reorder: opcode 327 + k addresses
// row k of this table first.
#include "host/builtin_table_host.h"

#include <cstring>

#include "engine/core/streams.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/calendar.h"
#include "engine/lib/debugger.h"
#include "engine/lib/help.h"
#include "engine/lib/introspection.h"
#include "engine/lib/libpath.h"
#include "engine/lib/semaphores.h"
#include "engine/lib/tasks.h"
#include "runtime/file_dialogs.h"
#include "engine/core/options.h"
#include "host/devices/file_library.h"
#include "numlib/linalg/lapack_rows.h"
#include "runtime/console_hooks.h"
#include "runtime/readlib_file_reader.h"

const char kHostFeatureList[] = "fileio";

BuiltinEntry g_builtin_table_host[kHostTableRows + 1];

namespace {

BuiltinEntry F(const char* name, uint8_t min_in = 1, uint8_t max_in = 1, uint8_t min_out = 1,
               uint8_t max_out = 1, uintptr_t data = 0, BuiltinFn fn = builtin_not_supported) {
  return builtin_row(name, min_in, max_in, min_out, max_out, data, 0, fn);
}
BuiltinEntry M(const char* name) { return builtin_marker(name); }
BuiltinEntry H(const char* name, uint8_t mode = 0) { return builtin_hook(name, mode); }

constexpr uint8_t kAny = kArgsAny;
constexpr uintptr_t kFopenData = 1;

template <typename Hook>
BuiltinEntry H(const char* name, uint8_t mode, Hook hook) {
  BuiltinEntry e = builtin_hook(name, mode);
  e.fn = builtin_fn_from(hook);
  return e;
}

const uintptr_t kNoWindow = reinterpret_cast<uintptr_t>(&kHostNoWindow);

const BuiltinEntry kHostRows[kHostTableRows + 1] = {
    // Unnamed head: the console and the library path.
    H("+write", kNewlineCRLF, static_cast<StreamWriteHook>(rt_console_write)),  // fds 1..3
    H("+iocbuffering", 0, static_cast<StreamBufferingHook>(rt_console_buffering)),
    H("+iocontrol", 0, static_cast<StreamControlHook>(rt_console_control)),  // fds 1, 2
    // Bound at start-up with the library-path reader as its data word:
    // never the engine's default data word.
    H("+readlib"),
    F("path", 0, 2, 0, 1, 0, bi_path),

    M("@Tarnivel"),
    F("drawnow", 0, 0, 0, 0, kNoWindow, bi_drawnow),
    F("quit", 0, 0, 0, 0, kNoWindow, bi_quit),
    F("help", 0, 1, 0, 1, 0, bi_help),
    F("lookfor", 1, 1, 0, 0, 0, bi_lookfor),
    F("hasfeature", 1, 1, 1, 1, reinterpret_cast<uintptr_t>(kHostFeatureList), bi_hasfeature),
    H("+write", kNewlineCRLF, static_cast<StreamWriteHook>(rt_refusing_write)),  // refuses every fd

    M("@ZVR"),  // the file library
    F("fopen", 1, 2, 1, 1, kFopenData),
    H("+read", kReadBytePerCall),
    H("+write", kNewlineLF),
    H("+fclose"),
    H("+iocontrol"),

    M("@TNdlg"),
    F("getfile", 0, 2, 1, 1),
    F("putfile", 0, 2, 1, 1),

    M("@ZVR"),
    F("clock", 0, 0, 1, 1, 0, bi_clock),
    F("tic", 0, 0, 0, 0, 0, bi_tic),
    F("toc", 0, 0, 1, 1, 0, bi_toc),

    M("@debug"),
    F("dbstack", 0, 1, 0, 1, 0, bi_dbstack),
    F("dbhalt", 0, 0, 0, 0, 0, bi_dbhalt),
    F("dbstop", 1, 2, 0, 0, 0, bi_dbstop),
    F("dbclear", 0, 2, 0, 0, 0, bi_dbclear),
    F("dbstatus", 0, 1, 0, 0, 0, bi_dbstatus),
    F("dbcont", 0, 0, 0, 0, 0, bi_dbcont),
    F("dbstep", 0, 1, 0, 0, 0, bi_dbstep),
    F("dbquit", 0, 0, 0, 0, 0, bi_dbquit),
    F("dbtype", 0, 1, 0, 0, 0, bi_dbtype),
    F("echo", 1, 3, 0, 0, 0, bi_echo),

    M("@thread"),
    F("threadnew", 1, kAny, 1, 1, 0, bi_threadnew),
    F("threadkill", 1, 1, 0, 0, 0, bi_threadkill),
    F("threadsleep", 1, 2, 0, 0, 0, bi_threadsleep),
    F("threadset", 0, kAny, 1, 1, reinterpret_cast<uintptr_t>(kThreadsetOptions), bi_option_set),
    F("semaphorenew", 0, 0, 1, 1, 0, bi_semaphorenew),
    F("semaphoredelete", 1, 1, 0, 0, 0, bi_semaphoredelete),
    F("semaphorelock", 1, 1, 0, 1, 0, bi_semaphorelock),
    F("semaphoreunlock", 1, 1, 0, 0, 0, bi_semaphoreunlock),

    // LAPACK rows: searched before the engine's own rows of the same names.
    M("!lapack"),
    F("balance", 1, 1, 1, 2, 0, bi_lapack_balance),
    F("chol", 1, 1, 1, 1, 0, bi_lapack_chol),
    F("det", 1, 1, 1, 1, 0, bi_lapack_det),
    F("eig", 1, 2, 1, 2, 0, bi_lapack_eig),
    F("hess", 1, 1, 1, 2, 0, bi_lapack_hess),
    F("inv", 1, 1, 1, 1, 0, bi_lapack_inv),
    F("logm", 1, 1, 1, 2, 'l', bi_lapack_matfun),  // one function with sqrtm
    F("lu", 1, 1, 1, 3, 0, bi_lapack_lu),
    F("mldivide", 2, 2, 1, 1, 0, bi_lapack_mldivide),
    F("mrdivide", 2, 2, 1, 1, 0, bi_lapack_mrdivide),
    F("orth", 1, 1, 1, 1, 0, bi_lapack_orth),
    F("null", 1, 1, 1, 1, 0, bi_lapack_null),
    F("pinv", 1, 2, 1, 1, 0, bi_lapack_pinv),
    F("qr", 1, 2, 1, 3, 0, bi_lapack_qr),
    F("qz", 2, 2, 1, 4, 0, bi_lapack_qz),
    F("rank", 1, 2, 1, 1, 0, bi_lapack_rank),
    F("rcond", 1, 1, 1, 1, 0, bi_lapack_rcond),
    F("schur", 1, 1, 1, 2, 0, bi_lapack_schur),
    F("sqrtm", 1, 1, 1, 2, 's', bi_lapack_matfun),
    F("svd", 1, 2, 1, 3, 0, bi_lapack_svd),

    M("@lnchurl"),
    F("launchurl", 1, 1, 0, 1),

    M("@serial"),
    F("serialdevopen", 1, 2, 1, 1),
    F("serialdevset", 0, kAny, 1, 1),
    F("serialdevname", 0, 1, 1, 1),
    H("+read", kReadBytePerCall),
    H("+write", kNewlineLF),
    H("+fclose"),
    H("+iocontrol"),
    F("opendevice", 1, 2, 1, 1),  // the function of serialdevopen
    F("flushdevice", 1, 1, 0, 0),
    F("closedevice", 1, 1, 0, 0),
    F("devicename"),  // the function of serialdevname, index required

    builtin_end_row(),
};

// The table is filled before main so that nothing can register it half-made.
const bool kFilledAtStart = (builtin_table_init_runtime(), true);

}  // namespace

void builtin_table_init_runtime() {
  std::memcpy(g_builtin_table_host, kHostRows, sizeof kHostRows);
  // The first "+readlib" row reads along the library path; its data word is
  // the file reader, so the engine's default data word never stands in.
  const BuiltinBinding readlib[] = {
      {"", "+readlib", builtin_fn_from(libpath_readlib_hook),
       reinterpret_cast<uintptr_t>(&readlib_file_reader)},
  };
  (void)builtin_table_bind(g_builtin_table_host, readlib, 1);
  // The file dialogs answer "" until the runtime host installs its dialogs.
  const BuiltinBinding dialogs[] = {
      {"@TNdlg", "getfile", bi_getfile, 0},
      {"@TNdlg", "putfile", bi_putfile, 0},
  };
  (void)builtin_table_bind(g_builtin_table_host, dialogs, 2);
  // The file library, launchurl and the serial ports.
  (void)host_devices_bind(g_builtin_table_host);
}
