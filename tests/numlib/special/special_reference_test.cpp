// The special-function, elliptic and distribution kernels against reference
// values from scipy (refdata/make_special.py), each within the accuracy its
// algorithm promises.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "numlib/special/distribution_kernels.h"
#include "numlib/special/elliptic_kernels.h"
#include "numlib/special/special_kernels.h"

namespace {

using Args = std::vector<double>;
using Eval = std::function<bool(const Args&, double*)>;

struct Record {
  std::string tag;
  Args args;
  double expected;
};

std::vector<Record> load() {
  std::vector<Record> out;
  std::ifstream f(std::string(TN_SPECIAL_REFDATA) + "/special.txt");
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    Record r;
    int n = 0;
    in >> r.tag >> n;
    r.args.resize(size_t(n));
    for (double& a : r.args) in >> a;
    in >> r.expected;
    out.push_back(r);
  }
  return out;
}

Eval value(double (*f)(double)) {
  return [f](const Args& a, double* o) { return *o = f(a[0]), true; };
}

double jacobi(const Args& a, int which) {
  double work[64], sn, cn, dn;
  EXPECT_TRUE(jacobi_elliptic_kernel(a[0], a[1], kEllipticTol, nullptr, &sn, &cn, &dn, work, 64));
  return which == 0 ? sn : which == 1 ? cn : dn;
}

std::map<std::string, Eval> functions() {
  std::map<std::string, Eval> m;
  m["erf"] = [](const Args& a, double* o) { return *o = erf_kernel(a[0], false), true; };
  m["erfc"] = [](const Args& a, double* o) { return *o = erf_kernel(a[0], true), true; };
  m["erfinv"] = value(erfinv_kernel);
  m["gamma"] = [](const Args& a, double* o) { return *o = gamma_function_kernel(a[0], false), true; };
  m["gammaln"] = value(log_gamma_lanczos);
  m["factorial"] = value(factorial_exact);
  m["gammainc"] = [](const Args& a, double* o) { return incomplete_gamma_kernel(a[1], a[0], o); };
  m["beta"] = [](const Args& a, double* o) { return *o = beta_function_kernel(a[0], a[1]), true; };
  m["betaln"] = [](const Args& a, double* o) { return *o = log_beta(a[0], a[1]), true; };
  m["betainc"] = [](const Args& a, double* o) { return incomplete_beta_kernel(a[0], a[1], a[2], o); };
  m["nchoosek"] = [](const Args& a, double* o) { return *o = binomial_exact(a[0], a[1]), true; };
  m["diln"] = value(dilog_kernel);
  m["ellipj_sn"] = [](const Args& a, double* o) { return *o = jacobi(a, 0), true; };
  m["ellipj_cn"] = [](const Args& a, double* o) { return *o = jacobi(a, 1), true; };
  m["ellipj_dn"] = [](const Args& a, double* o) { return *o = jacobi(a, 2), true; };
  m["ellipk"] = [](const Args& a, double* o) { return ellipke_agm_kernel(a[0], kEllipticTol, o, nullptr); };
  m["ellipe_complete"] = [](const Args& a, double* o) {
    return ellipke_agm_kernel(a[0], kEllipticTol, nullptr, o);
  };
  m["ellipf"] = [](const Args& a, double* o) { return elliptic_f_kernel(a[0], a[1], o); };
  m["ellipe"] = [](const Args& a, double* o) { return elliptic_e_kernel(a[0], a[1], o); };
  const char* kinds[3] = {"pdf:", "cdf:", "icdf:"};
  for (const DistributionRow& row : kDistributionTable) {
    const DistKernel k[3] = {row.pdf, row.cdf, row.icdf};
    for (int s = 0; s < 3; ++s) {
      if (!k[s]) continue;
      const DistKernel kernel = k[s];
      for (const char* name : row.names)
        if (name)
          m[std::string(kinds[s]) + name] = [kernel](const Args& a, double* o) {
            return kernel(a[0], a.size() > 1 ? a[1] : 0, a.size() > 2 ? a[2] : 1, o);
          };
    }
  }
  return m;
}

// Relative tolerance, and the absolute floor below which values count as equal.
struct Tol {
  double rel, abs;
};

Tol tolerance(const Record& r) {
  const std::string& t = r.tag;
  if (t.rfind("icdf:", 0) == 0) return {1e-11, 1e-15};
  if (t.find(':') != std::string::npos) return {1e-12, 1e-15};
  if (t.rfind("ellip", 0) == 0) return {1e-13, 1e-13};
  if (t == "factorial" || t == "nchoosek") return {0, 0};
  double big = 0;
  for (double a : r.args) big = std::max(big, std::fabs(a));
  // Values below the normal range count as equal to 0.
  return {big <= 100 ? 1e-12 : 1e-10, 1e-300};
}

TEST(SpecialReference, AllRecordsWithinTolerance) {
  const std::vector<Record> records = load();
  ASSERT_GT(records.size(), 1000u);
  const auto fns = functions();
  int checked = 0;
  for (const Record& r : records) {
    auto it = fns.find(r.tag);
    ASSERT_NE(it, fns.end()) << r.tag;
    double got = 0;
    ASSERT_TRUE(it->second(r.args, &got)) << r.tag;
    const Tol tol = tolerance(r);
    const double err = std::fabs(got - r.expected);
    std::ostringstream where;
    where.precision(17);
    where << r.tag;
    for (double a : r.args) where << " " << a;
    if (std::isinf(r.expected)) {
      EXPECT_EQ(got, r.expected) << where.str();
    } else {
      EXPECT_LE(err, std::max(tol.abs, tol.rel * std::fabs(r.expected)))
          << where.str() << ": got " << got << ", expected " << r.expected;
    }
    ++checked;
  }
  EXPECT_EQ(checked, int(records.size()));
}

// Each icdf inverts its cdf.
TEST(SpecialReference, CdfOfIcdfIsP) {
  for (const DistributionRow& row : kDistributionTable) {
    if (!row.icdf) continue;
    for (double p : {0.001, 0.2, 0.5, 0.8, 0.999}) {
      const double a = row.params == DistParams::kDefaulted ? 0.5 : 3;
      const double b = 2;
      double x, back;
      ASSERT_TRUE(row.icdf(p, a, b, &x)) << row.names[0];
      ASSERT_TRUE(row.cdf(x, a, b, &back)) << row.names[0];
      EXPECT_NEAR(back, p, 1e-12) << row.names[0] << " " << p;
    }
  }
}

}  // namespace
