// The engine's built-in table: 324 rows in a fixed order, with the sections of
// the engine, the numerical library, the graphics and the application runtime.
// Compiled code calls row k of the registered tables as opcode 327 + k, so this
// order is part of every saved application: replace a row's function, never
// the row. Rows of libraries above the engine are bound at start-up
// (builtin_table_bind); the engine's and the numerical library's own rows name
// their functions here.
#include "engine/core/streams.h"
#include "engine/core/strings_builtins.h"
#include "engine/lib/bit_ops.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/calendar.h"
#include "engine/lib/classes_convert.h"
#include "engine/lib/dump_source.h"
#include "engine/lib/funvals.h"
#include "engine/lib/introspection.h"
#include "engine/lib/sandbox.h"
#include "engine/lib/str2obj.h"
#include "numlib/linalg/linalg_builtins.h"
#include "numlib/calculus/calculus_builtins.h"
#include "numlib/calculus/ode_tableaus.h"
#include "numlib/special/special_builtins.h"
#include "numlib/special/special_kernels.h"
#include "numlib/misc/digest.h"
#include "numlib/misc/geometry.h"
#include "numlib/quaternion/quaternion.h"
#include "numlib/control/conversions.h"
#include "numlib/control/margins.h"
#include "numlib/control/matrix_equations.h"
#include "numlib/signal/fft_builtins.h"
#include "numlib/signal/interpn.h"
#include "numlib/signal/polynomials.h"

namespace {

BuiltinEntry F(const char* name, uint8_t min_in = 1, uint8_t max_in = 1, uint8_t min_out = 1,
               uint8_t max_out = 1, uintptr_t data = 0, int32_t class_word = 0,
               BuiltinFn fn = builtin_not_supported) {
  return builtin_row(name, min_in, max_in, min_out, max_out, data, class_word, fn);
}
BuiltinEntry M(const char* name) { return builtin_marker(name); }
BuiltinEntry H(const char* name, uint8_t mode = 0, int32_t class_word = 0, BuiltinFn fn = nullptr) {
  BuiltinEntry e = builtin_hook(name, mode, class_word);
  if (fn) e.fn = fn;
  return e;
}

constexpr uint8_t kAny = kArgsAny;

// The quaternion class: 1 marks a method, -1 a row also found as a plain function.
constexpr int32_t kMethod = 1;
constexpr int32_t kClassFunction = -1;

BuiltinEntry Q(const char* name, uint8_t min_in = 1, uint8_t max_in = 1, uint8_t min_out = 1,
               uint8_t max_out = 1, uintptr_t data = 0, BuiltinFn fn = builtin_not_supported) {
  return builtin_row(name, min_in, max_in, min_out, max_out, data, kMethod, fn);
}

}  // namespace

BuiltinEntry g_builtin_table_engine[kEngineTableRows + 1] = {
    // Unnamed head.
    H("+read", kReadBuffered),  // console input on fd 0
    H("+errmsgtable"),  // the engine's error table
    H("+errmsgtable"),  // one row: 10001 plotOverflow "Not enough memory for plot"

    M("@ZVR"),
    F("info", 0, 1, 0, 1, 'i', 0, bi_info),
    F("inmem", 0, 0, 0, 1, 'm', 0, bi_info),
    F("isglobal", 1, 1, 1, 1, 0, 0, bi_isglobal),
    F("which", 1, 1, 1, 1, 0, 0, bi_which),
    F("sandbox", 1, 2, 0, 1, 0, 0, bi_sandbox),
    F("sandboxtrust", 1, 1, 0, 0, 0, 0, bi_sandboxtrust),

    M("!ZVR"),  // general
    F("iskeyword", 0, 1, 1, 1, 0, 0, bi_iskeyword),
    F("dumpvar", 1, 3, 0, 1, 0, 0, bi_dumpvar),
    F("intmax", 0, 1, 1, 1, kIntLimitMax, 0, bi_intlimit),
    F("intmin", 0, 1, 1, 1, kIntLimitMin, 0, bi_intlimit),
    F("map2int", 1, 4, 1, 1, 0, 0, bi_map2int),
    F("str2obj", 1, 1, 1, kAny, 0, 0, bi_str2obj),
    F("fevalx", 2, 6, 0, 5, 0, 0, bi_fevalx),
    F("apply", 2, 3, 1, 1, 0, 0, bi_apply),
    F("map", 2, kAny, 0, kAny, kMapSelector, 0, bi_map_cellfun),
    F("cellfun", 2, kAny, 1, 1, kCellfunSelector, 0, bi_map_cellfun),
    F("base64encode", 1, 1, 1, 1, 'e', 0, bi_base64encode),
    F("base64decode", 1, 1, 1, 1, 'd', 0, bi_base64encode),
    F("utf8encode", 1, 1, 1, 1, 0, 0, builtin_utf8encode),
    F("utf8decode", 1, 1, 1, 1, 0, 0, builtin_utf8decode),
    F("md5", 1, 1, 1, 1, 0, 0, bi_md5),
    F("sha1", 1, 1, 1, 1, 0, 0, bi_sha1),
    F("polyval", 2, 2, 1, 1, 0, 0, bi_polyval),
    F("roots", 1, 2, 1, 1, 0, 0, bi_roots),
    F("poly", 1, 1, 1, 1, 0, 0, bi_poly),
    F("polyder", 1, 2, 1, 2, 0, 0, bi_polyder),
    F("polyint", 1, 2, 1, 1, 0, 0, bi_polyint),
    F("fft", 1, 3, 1, 1, 'f', 0, bi_fft),
    F("ifft", 1, 3, 1, 1, 'i', 0, bi_fft),
    F("fft2", 1, 3, 1, 1, '2', 0, bi_fft2),
    F("ifft2", 1, 3, 1, 1, 'I', 0, bi_fft2),
    F("fftn", 1, 2, 1, 1, 'f', 0, bi_fftn),
    F("ifftn", 1, 2, 1, 1, 'i', 0, bi_fftn),
    F("expm", 1, 1, 1, 1, 0, 0, bi_expm),
    F("eig", 1, 1, 1, 2, 0, 0, bi_eig),
    F("balance", 1, 1, 1, 2, 0, 0, bi_balance),
    F("svd", 1, 2, 1, 3, 0, 0, bi_svd),
    F("rank", 1, 2, 1, 1, 0, 0, bi_rank),
    F("cond", 1, 1, 1, 1, 0, 0, bi_cond),
    F("pinv", 1, 2, 1, 1, 0, 0, bi_pinv),
    F("orth", 1, 1, 1, 1, 0, 0, bi_orth),
    F("null", 1, 1, 1, 1, 0, 0, bi_null),
    F("norm", 1, 2, 1, 1, 0, 0, bi_norm),
    F("chol", 1, 1, 1, 1, 0, 0, bi_chol),
    F("lu", 1, 1, 1, 3, 0, 0, bi_lu),
    F("hess", 1, 1, 1, 2, 0, 0, bi_hess),
    F("qr", 1, 2, 1, 3, 0, 0, bi_qr),
    F("schur", 1, 2, 1, 2, 0, 0, bi_schur),
    F("sqrtm", 1, 1, 1, 2, 's', 0, bi_matfun),
    F("logm", 1, 1, 1, 2, 'l', 0, bi_matfun),
    F("funm", 2, 2, 1, 2, 'f', 0, bi_matfun),
    F("householder", 1, 1, 1, 2, 0, 0, bi_householder),
    F("householderapply", 3, 4, 1, 1, 0, 0, bi_householderapply),
    F("linprog", 3, 5, 1, 1, 0, 0, bi_linprog),
    F("care", 3, 5, 1, 3, 'c', 0, bi_care),
    F("dare", 3, 4, 1, 3, 'd', 0, bi_care),
    F("lyap", 2, 3, 1, 1, 0, 0, bi_lyap),
    F("dlyap", 2, 2, 1, 1, 0, 0, bi_dlyap),
    F("beta", 2, 2, 1, 1, kSelBeta, 0, bi_beta),
    F("betainc", 3, 3, 1, 1, reinterpret_cast<uintptr_t>(&incomplete_beta_kernel), 0, bi_betainc),
    F("betaln", 2, 2, 1, 1, kSelBetaln, 0, bi_beta),
    F("erf", 1, 1, 1, 1, kSelErf, 0, bi_erf),
    F("erfc", 1, 1, 1, 1, kSelErfc, 0, bi_erf),
    F("erfinv", 1, 1, 1, 1, kSelErfinv, 0, bi_erf),
    F("factorial", 1, 1, 1, 1, kSelFactorial, 0, bi_gamma),
    F("gamma", 1, 1, 1, 1, kSelGamma, 0, bi_gamma),
    F("gammainc", 2, 2, 1, 1, 1, 0, bi_gammainc),
    F("gammaln", 1, 1, 1, 1, kSelGammaln, 0, bi_gamma),
    F("nchoosek", 2, 2, 1, 1, 0, 0, bi_nchoosek),
    F("gcd", 2, 2, 1, 1, 'd', 0, bi_gcd_lcm),
    F("lcm", 2, 2, 1, 1, 'm', 0, bi_gcd_lcm),
    F("diln", 1, 1, 1, 1, 0, 0, bi_diln),
    F("ellipam", 2, 3, 1, 1, 'a', 0, bi_elliptic),
    F("ellipj", 2, 3, 1, 3, 'j', 0, bi_elliptic),
    F("ellipe", 2, 2, 1, 1, 'e', 0, bi_elliptic),
    F("ellipf", 2, 2, 1, 1, 'f', 0, bi_elliptic),
    F("ellipke", 1, 2, 1, 2, 0, 0, bi_ellipke),
    F("hypot", 2, 2, 1, 1, 0, 0, bi_hypot),
    F("cdf", 2, 4, 1, 1, 'c', 0, bi_distribution),
    F("icdf", 2, 4, 1, 1, 'i', 0, bi_distribution),
    F("pdf", 2, 4, 1, 1, 'p', 0, bi_distribution),
    F("interpn", 3, 34, 1, 1, 0, 0, bi_interpn),
    F("delaunay", 2, 2, 1, 2, 0, 0, bi_delaunay),
    F("delaunayn", 1, 1, 1, 2, 0, 0, bi_delaunayn),
    F("griddata", 5, 6, 1, 1, kGeomGriddata, 0, bi_tsearch_griddata),
    F("griddatan", 3, 4, 1, 1, 0, 0, bi_griddatan),
    F("tsearch", 5, 5, 1, 1, kGeomTsearch, 0, bi_tsearch_griddata),
    F("tsearchn", 3, 3, 1, 1, 0, 0, bi_tsearchn),
    F("voronoi", 2, 2, 1, 2, 0, 0, bi_voronoi),
    F("voronoin", 1, 1, 1, 2, 0, 0, bi_voronoin),
    F("fzero", 2, kAny, 1, 1, 0, 0, bi_fzero),
    F("fminbnd", 2, kAny, 1, 3, 0, 0, bi_fminbnd),
    F("optimset", 0, kAny, 1, 1, 0, 0, bi_optimset),
    F("fminsearch", 2, kAny, 1, 3, 0, 0, bi_fminsearch),
    F("quad", 3, kAny, 1, 1, 0, 0, bi_quad),
    F("odeset", 0, kAny, 1, 1, 0, 0, bi_odeset),
    F("ode45", 3, kAny, 0, 2, reinterpret_cast<uintptr_t>(kOde45Tableau), 0, bi_ode),
    F("ode23", 3, kAny, 0, 2, reinterpret_cast<uintptr_t>(kOde23Tableau), 0, bi_ode),
    F("bitget", 2, 2, 1, 1, 0, 0, bi_bitget),
    F("bitset", 2, 3, 1, 1, 0, 0, bi_bitset),
    F("bitand", 2, 2, 1, 1, 0, 0, bi_bitand),
    F("bitor", 2, 2, 1, 1, 0, 0, bi_bitor),
    F("bitxor", 2, 2, 1, 1, 0, 0, bi_bitxor),
    F("bitcmp", 1, 2, 1, 1, 0, 0, bi_bitcmp),
    F("bitshift", 2, 3, 1, 1, 0, 0, bi_bitshift),
    F("bitall", 1, 2, 1, 1, '&', 0, bi_bitall),
    F("bitany", 1, 2, 1, 1, '|', 0, bi_bitall),
    F("graycode", 1, 1, 1, 1, 'g', 0, bi_graycode),
    F("igraycode", 1, 1, 1, 1, 'i', 0, bi_graycode),

    M("!ZVR"),  // calendar
    F("cal2julian", 1, 6, 1, 1, 0, 0, bi_cal2julian),
    F("julian2cal", 1, 1, 1, 6, 0, 0, bi_julian2cal),

    M("!quaternion"),
    F("quaternion", 0, 4, 1, 1, 0, kClassFunction, bi_quaternion),
    F("isquaternion", 1, 1, 1, 1, 0, kClassFunction, bi_isquaternion),
    F("rpy2q", 3, 3, 1, 1, 0, kClassFunction, bi_rpy2q),
    Q("abs", 1, 1, 1, 1, 'a', bi_quaternion_norm),
    Q("beginning", 3, 3, 1, 1, 'b', bi_quaternion_bounds),
    Q("cat", 1, kAny, 1, 1, 'c', bi_quaternion_cat),
    Q("q2str", 1, 1, 1, 1, 0, bi_q2str),
    Q("conj", 1, 1, 1, 1, 'c', bi_quaternion_elemfun),
    Q("cos", 1, 1, 1, 1, 'C', bi_quaternion_elemfun),
    Q("ctranspose", 1, 1, 1, 1, 'T', bi_quaternion_arrayop),
    Q("cumsum", 1, 2, 1, 1, 'U', bi_quaternion_arrayop),
    Q("diff", 1, 3, 1, 1, 'd', bi_quaternion_arrayop),
    Q("disp", 1, 1, 0, 0, 0, bi_quaternion_disp),
    Q("double", 1, 1, 1, 1, 0, bi_quaternion_double),
    Q("eq", 2, 2, 1, 1, 'e', bi_quaternion_compare),
    Q("end", 3, 3, 1, 1, 'e', bi_quaternion_bounds),
    Q("exp", 1, 1, 1, 1, 'e', bi_quaternion_elemfun),
    Q("flipdim", 2, 2, 1, 1, 'F', bi_quaternion_arrayop),
    Q("fliplr", 1, 1, 1, 1, 'g', bi_quaternion_arrayop),
    Q("flipud", 1, 1, 1, 1, 'f', bi_quaternion_arrayop),
    Q("horzcat", 2, 2, 1, 1, 'h', bi_quaternion_cat),
    Q("ipermute", 2, 2, 1, 1, 'P', bi_quaternion_arrayop),
    Q("isempty", 1, 1, 1, 1, 0, bi_quaternion_isempty),
    Q("ldivide", 2, 2, 1, 1, 'l', bi_quaternion_product),
    Q("length", 1, 1, 1, 1, 'l', bi_quaternion_count),
    Q("log", 1, 1, 1, 1, 'l', bi_quaternion_elemfun),
    Q("mean", 1, 2, 1, 1, 'm', bi_quaternion_arrayop),
    Q("minus", 2, 2, 1, 1, 0, bi_quaternion_minus),
    Q("mldivide", 2, 2, 1, 1, 'L', bi_quaternion_product),
    Q("mpower", 2, 2, 1, 1, 'm', bi_quaternion_power),
    Q("mrdivide", 2, 2, 1, 1, 'R', bi_quaternion_product),
    Q("mtimes", 2, 2, 1, 1, 'T', bi_quaternion_product),
    Q("ndims", 1, 1, 1, 1, 'd', bi_quaternion_count),
    Q("ne", 2, 2, 1, 1, 'n', bi_quaternion_compare),
    Q("numel", 1, 1, 1, 1, 'e', bi_quaternion_count),
    Q("permute", 2, 2, 1, 1, 'p', bi_quaternion_arrayop),
    Q("plus", 2, 2, 1, 1, 0, bi_quaternion_plus),
    Q("power", 2, 2, 1, 1, 'p', bi_quaternion_power),
    Q("q2mat", 1, 1, 1, 1, 0, bi_q2mat),
    Q("q2rpy", 1, 1, 1, 3, 0, bi_q2rpy),
    Q("qimag", 1, 1, 1, 1, 'i', bi_quaternion_elemfun),
    Q("qinv", 1, 1, 1, 1, 'v', bi_quaternion_elemfun),
    Q("qnorm", 1, 1, 1, 1, 'n', bi_quaternion_norm),
    Q("qslerp", 3, 3, 1, 1, 0, bi_qslerp),
    Q("real", 1, 1, 1, 1, 'r', bi_quaternion_norm),
    Q("rdivide", 2, 2, 1, 1, 'r', bi_quaternion_product),
    Q("repmat", 2, 3, 1, 1, 'R', bi_quaternion_arrayop),
    Q("reshape", 1, 17, 1, 1, 'r', bi_quaternion_arrayop),
    Q("rot90", 1, 2, 1, 1, '9', bi_quaternion_arrayop),
    Q("sign", 1, 1, 1, 1, 's', bi_quaternion_elemfun),
    Q("sin", 1, 1, 1, 1, 'S', bi_quaternion_elemfun),
    Q("size", 1, 2, 1, 2, 0, bi_quaternion_size),
    Q("sqrt", 1, 1, 1, 1, 'q', bi_quaternion_elemfun),
    Q("squeeze", 1, 1, 1, 1, 's', bi_quaternion_arrayop),
    Q("subsasgn", 3, 3, 1, 1, 0, bi_quaternion_subsasgn),
    Q("subsref", 2, 2, 1, 1, 0, bi_quaternion_subsref),
    Q("sum", 1, 2, 1, 1, 'u', bi_quaternion_arrayop),
    Q("times", 2, 2, 1, 1, 't', bi_quaternion_product),
    Q("transpose", 1, 1, 1, 1, 't', bi_quaternion_arrayop),
    Q("uminus", 1, 1, 1, 1, 0, bi_quaternion_uminus),
    Q("uplus", 1, 1, 1, 1, 0, bi_quaternion_uplus),
    Q("vertcat", 2, 2, 1, 1, 'v', bi_quaternion_cat),
    H("+dump", 0, kMethod, builtin_fn_from(bi_quaternion_dump)),
    // The runtime's reader of the compiled application's own libraries. It
    // lies at the end of the quaternion section, so it binds as
    // {"!quaternion", "+readlib", ...}.
    H("+readlib"),

    M("!Tarnivel"),  // graphics, responses and control conversions
    H("+errmsgtable"),  // the runtime's error table, codes 10000..10057
    F("movezero", 3, 3, 1, 2),
    F("plot", 1, 4, 0, 0),
    F("area", 1, 4, 0, 0),
    F("polar", 2, 4, 0, 0),
    F("fplot", 1, kAny, 0, 0),
    F("line", 2, 4, 0, 0),
    F("circle", 3, 5, 0, 0),
    F("activeregion", 3, 5, 0, 0),
    F("bar", 1, 6, 0, 0),
    F("barh", 1, 6, 0, 0),
    F("text", 1, 5, 0, 0),
    F("fontset", 0, kAny, 1, 1),
    F("quiver", 2, 6, 0, 0),
    F("slider", 3, 6, 0, 0),
    F("button", 2, 5, 0, 0),
    F("pushbutton", 1, 3, 0, 0),
    F("popupmenu", 3, 5, 0, 0),
    F("textfield", 3, 5, 0, 0),
    F("settabs", 1, 1, 0, 0),
    F("image", 1, 6, 0, 0),
    F("pcolor", 1, 5, 0, 0),
    F("colormap", 0, 1, 0, 1),
    F("bodemag", 2, 8, 0, 2),
    F("bodephase", 2, 8, 0, 2),
    F("dbodemag", 3, 9, 0, 2),
    F("dbodephase", 3, 9, 0, 2),
    F("dimpulse", 3, 8, 0, 2),
    F("dinitial", 4, 9, 0, 2),
    F("dlsim", 4, 10, 0, 2),
    F("dnichols", 2, 6, 0, 3),
    F("dnyquist", 2, 6, 0, 3),
    F("dsigma", 5, 9, 0, 2),
    F("dstep", 3, 8, 0, 2),
    F("erlocus", 2, 4, 0, 0),
    F("hgrid", 0, 1, 0, 0),
    F("hstep", 5, 7, 0, 0),
    F("impulse", 2, 7, 0, 2),
    F("initial", 3, 8, 0, 2),
    F("lsim", 4, 10, 0, 2),
    F("ngrid", 0, 1, 0, 0),
    F("nichols", 2, 6, 0, 3),
    F("nyquist", 2, 6, 0, 3),
    F("plotroots", 1, 3, 0, 0),
    F("responseset", 0, kAny, 1, 1),
    F("rlocus", 2, 4, 0, 0),
    F("sgrid", 0, 3, 0, 0),
    F("sigma", 4, 8, 0, 2),
    F("step", 2, 7, 0, 2),
    F("zgrid", 0, 3, 0, 0),
    F("contour", 1, 4, 0, 0),
    F("scale", 0, 3, 0, 2),
    F("label", 1, 3, 0, 0),
    F("title", 1, 1, 0, 0),
    F("legend", 1, 2, 0, 0),
    F("plotoption", 1, 1, 0, 0),
    F("scalefactor", 0, 1, 0, 1),
    F("subplot", 1, 3, 0, 0),
    F("plot3", 3, 5, 0, 0),
    F("line3", 2, 4, 0, 0),
    F("plotpoly", 4, 7, 0, 0),
    F("mesh", 1, 7, 0, 0),
    F("surf", 1, 7, 0, 0),
    F("contour3", 1, 4, 0, 0),
    F("sensor3", 3, 5, 0, 0),
    F("lightangle", 2, 3, 0, 0),
    F("material", 1, 1, 0, 0),
    F("camdolly", 1, 1, 0, 0),
    F("camorbit", 1, 2, 0, 0),
    F("campan", 2, 2, 0, 0),
    F("campos", 0, 1, 0, 1),
    F("camproj", 0, 1, 0, 1),
    F("camroll", 1, 1, 0, 0),
    F("camtarget", 0, 1, 0, 1),
    F("camup", 0, 1, 0, 1),
    F("camva", 0, 1, 0, 1),
    F("camzoom", 1, 1, 0, 0),
    F("daspect", 0, 1, 0, 1),
    F("c2dm", 3, 6, 1, 4, 0, 0, bi_c2dm),
    F("d2cm", 3, 6, 1, 4, 0, 0, bi_d2cm),
    F("ss2tf", 4, 5, 1, 2, 0, 0, bi_ss2tf),
    F("tf2ss", 2, 2, 1, 4, 0, 0, bi_tf2ss),
    F("margin", 2, 2, 1, 4, 0, 0, bi_margin),
    F("dmargin", 2, 3, 1, 4, 0, 0, bi_dmargin),

    M("!Tarnivel"),  // the application runtime
    F("subplots", 0, 1, 0, 1),
    F("subplotprops", 0, 2, 0, 2),
    F("subplotpos", 0, 1, 0, 1),
    F("subplotsize", 0, 2, 0, 2),
    F("subplotspring", 0, 1, 0, 1),
    F("subplotparam", 0, 1, 0, 1),
    F("tntitle", 0, 1, 0, 1),
    F("tnversion", 0, 1, 0, 1),
    F("tnhelp", 0, 1, 0, 1),
    F("cancel", 0, 1, 0, 0),
    F("clf", 0, 0, 0, 0),
    F("redraw", 0, 0, 0, 0),
    F("idlestate", 0, 1, 0, 1),
    F("tncall", 2, kAny, 0, kAny),
    F("tncurrentinstance", 0, 0, 1, 1),
    F("tninstances", 0, 0, 1, 1),
    F("tninstancetitle"),
    F("firstrun", 0, 0, 1, 1),
    // Special variables of the event that caused the redraw.
    F("_id", 0, 0, 1, 1),
    F("_nb", 0, 0, 1, 1),
    F("_ix", 0, 0, 1, 1),
    F("_m", 0, 0, 1, 1),
    F("_z", 0, 0, 1, 1),
    F("_x", 0, 0, 1, 1),
    F("_y", 0, 0, 1, 1),
    F("_theta", 0, 0, 1, 1),
    F("_rho", 0, 0, 1, 1),
    F("_z0", 0, 0, 1, 1),
    F("_x0", 0, 0, 1, 1),
    F("_y0", 0, 0, 1, 1),
    F("_theta0", 0, 0, 1, 1),
    F("_rho0", 0, 0, 1, 1),
    F("_p0", 0, 0, 1, 1),
    F("_z1", 0, 0, 1, 1),
    F("_x1", 0, 0, 1, 1),
    F("_y1", 0, 0, 1, 1),
    F("_theta1", 0, 0, 1, 1),
    F("_rho1", 0, 0, 1, 1),
    F("_p1", 0, 0, 1, 1),
    F("_kx", 0, 0, 1, 1),
    F("_ky", 0, 0, 1, 1),
    F("_dx", 0, 0, 1, 1),
    F("_dy", 0, 0, 1, 1),
    F("_q", 0, 0, 1, 1),
    F("efopen", 1, 2, 1, 1),
    // Embedded-data streams.
    H("+write", kNewlineLF),
    H("+read", kReadBytePerCall),
    H("+fclose"),
    H("+iocontrol"),

    M("@TNdlg"),
    F("dialog", 1, kAny, 0, kAny),
    F("dialogset", 0, kAny, 1, 1),

    // Figures of the instance: the last section, so no earlier row moves.
    M("!Tarnivel"),
    F("figure", 0, 1, 0, 1),
    F("currentfigure", 0, 1, 0, 1),
    F("figuretitle", 1, 1, 0, 0),

    builtin_end_row(),
};
