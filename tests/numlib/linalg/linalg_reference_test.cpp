// The linear-algebra built-ins against scipy's reference data
// (refdata/make_linalg.py), run from ZVR code in both sections: the engine's
// own rows, and the host's "!lapack" rows registered in front of them. Each
// case computes the worst of its error ratios (error over allowed error) in
// ZVR; the test wants it at most 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/lapack_section.h"
#include "support/zvr_session.h"

namespace {

struct Record {
  std::string kind;
  std::vector<std::string> fields;
};

std::vector<Record> load() {
  std::vector<Record> out;
  std::ifstream f(std::string(TN_LINALG_REFDATA) + "/linalg_ref.txt");
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    Record r;
    in >> r.kind;
    std::string w;
    while (in >> w) r.fields.push_back(w);
    out.push_back(r);
  }
  return out;
}

// Fields [from, from + count) as a ZVR row vector literal.
std::string row(const Record& r, size_t from, size_t count) {
  std::string s = "[";
  for (size_t i = 0; i < count; ++i) s += (i ? " " : "") + r.fields[from + i];
  return s + "]";
}

// Statements that set `name` to the m x n matrix stored row by row at
// fields [from, ...), in pieces small enough for one literal.
std::string matrix(const std::string& name, const Record& r, size_t from, int m, int n) {
  constexpr size_t kPiece = 100;
  const size_t count = size_t(m) * n;
  std::string s = name + " = zeros(1, 0);\n";
  for (size_t at = 0; at < count; at += kPiece)
    s += name + " = [" + name + " " + row(r, from + at, std::min(kPiece, count - at)) + "];\n";
  // reshape keeps the row-by-row element order.
  return s + name + " = reshape(" + name + ", " + std::to_string(m) + ", " + std::to_string(n) + ");\n";
}

class LinalgReference : public ::testing::TestWithParam<bool> {
 protected:
  // Room for order-60 complex factors and their products.
  static constexpr uint32_t kBlockBytes = 32u << 20;
  ZvrSession s{kBlockBytes};
  void SetUp() override {
    if (GetParam()) ASSERT_EQ(register_lapack_section(s.c), kOk);
    ASSERT_EQ(s.run("function check_(e, t)\n  global worst_\n  worst_ = max(worst_, e / t);\n"
                    "endfunction\n"), kOk)
        << s.take_output();
  }
  // Runs the case's code and returns its worst error ratio.
  double worst(const std::string& code) {
    const int st = s.run("global worst_\nworst_ = 0;\n" + code + "\n");
    EXPECT_EQ(st, kOk) << s.take_output() << code.substr(code.size() > 300 ? code.size() - 300 : 0);
    const std::string v = s.value("worst_");
    const size_t at = v.find('[');
    return at == std::string::npos ? 1e300 : std::strtod(v.c_str() + at + 1, nullptr);
  }
};

TEST_P(LinalgReference, SingularValuesPinvNullOrth) {
  const bool lapack = GetParam();
  int cases = 0;
  for (const Record& r : load()) {
    if (r.kind != "svd") continue;
    const int c = std::stoi(r.fields[0]), m = std::stoi(r.fields[1]), n = std::stoi(r.fields[2]);
    const int rank = std::stoi(r.fields[lapack ? 4 : 3]);
    const int k = std::min(m, n);
    std::string a = matrix("A", r, 5, m, n);
    size_t next = 5 + size_t(m) * n;
    if (c) a += matrix("Ai", r, next, m, n) + "A = A + 1i * Ai;\n", next += size_t(m) * n;
    std::ostringstream code;
    code << a << "sr = " << row(r, next, k) << "';\n"
         << "m = " << m << "; n = " << n << "; na = max(norm(A, 1), 1e-300);\n"
         << "check_(norm(svd(A) - sr, inf), 64 * eps * max(m, n) * max(sr(1), 1e-300));\n"
         << "[U, S, V] = svd(A);\n"
         << "check_(norm(U * S * V' - A, 1), 100 * max(m, n) * eps * na);\n"
         << "check_(norm(U' * U - eye(m), 1) + norm(V' * V - eye(n), 1), 100 * max(m, n) * eps);\n"
         << "X = pinv(A); nx = max(norm(X, 1), 1);\n"
         << "check_(norm(A * X * A - A, 1) + norm(X * A * X - X, 1), 1e-12 * na * nx * na);\n"
         << "check_(norm((A * X)' - A * X, 1) + norm((X * A)' - X * A, 1), 1e-12 * na * nx);\n"
         << "check_(abs(rank(A) - " << rank << "), 0.5);\n"
         << "Z = null(A); Q = orth(A);\n"
         << "check_(abs(size(Z, 2) - (n - " << rank << ")) + abs(size(Q, 2) - " << rank << "), 0.5);\n"
         << "if size(Z, 2) > 0, check_(norm(A * Z, 1) + norm(Z' * Z - eye(size(Z, 2)), 1), 1e-12 * na); end\n"
         << "if size(Q, 2) > 0, check_(norm(Q' * Q - eye(size(Q, 2)), 1), 1e-12); end\n";
    EXPECT_LE(worst(code.str()), 1.0) << "svd case " << m << "x" << n << " complex " << c;
    ++cases;
  }
  EXPECT_GE(cases, 30);
}

TEST_P(LinalgReference, EigenvaluesAndReconstructions) {
  int cases = 0;
  for (const Record& r : load()) {
    if (r.kind != "eig") continue;
    const int c = std::stoi(r.fields[0]), n = std::stoi(r.fields[1]);
    std::string a = matrix("A", r, 2, n, n);
    size_t next = 2 + size_t(n) * n;
    if (c) a += matrix("Ai", r, next, n, n) + "A = A + 1i * Ai;\n", next += size_t(n) * n;
    std::ostringstream code;
    code << a << "w = " << row(r, next, n) << " + 1i * " << row(r, next + n, n) << ";\n"
         << "n = " << n << "; na = norm(A, 1); t = 100 * n * eps * na;\n"
         << "e = eig(A);\n"
         << "for k = 1:n, [d, i] = min(abs(e - w(k))); e(i) = inf; check_(d, 1e-12 * na * 10); end\n"
         << "[V, D] = eig(A); check_(norm(A * V - V * D, 1), 1e-10 * na * norm(V, 1));\n"
         << "[L, U, P] = lu(A); check_(norm(L * U - P * A, 1), t);\n"
         << "[Q, R, E] = qr(A); check_(norm(Q * R - A * E, 1) + norm(Q' * Q - eye(n), 1) * na, t);\n"
         << "[U, T] = schur(A); check_(norm(U * T * U' - A, 1) + norm(U' * U - eye(n), 1) * na, t);\n"
         << "[P, H] = hess(A); check_(norm(P * H * P' - A, 1) + norm(P' * P - eye(n), 1) * na, t);\n"
         << "B = A' * A + eye(n); R = chol(B); check_(norm(R' * R - B, 1), 100 * n * eps * norm(B, 1));\n";
    EXPECT_LE(worst(code.str()), 1.0) << "eig case " << n << " complex " << c;
    ++cases;
  }
  EXPECT_GE(cases, 10);
}

TEST_P(LinalgReference, MatrixFunctions) {
  int cases = 0;
  for (const Record& r : load()) {
    if (r.kind != "fun") continue;
    const int n = std::stoi(r.fields[0]);
    const size_t nn = size_t(n) * n;
    std::ostringstream code;
    code << matrix("A", r, 1, n, n) << matrix("E", r, 1 + nn, n, n) << matrix("S", r, 1 + 2 * nn, n, n)
         << matrix("G", r, 1 + 3 * nn, n, n)
         << "check_(norm(expm(A) - E, 1), 1e-12 * norm(E, 1));\n"
         << "check_(norm(sqrtm(A) - S, 1), 1e-12 * norm(S, 1));\n"
         << "check_(norm(logm(A) - G, 1), 1e-12 * norm(G, 1));\n";
    if (!GetParam()) code << "check_(norm(funm(A, @exp) - E, 1), 1e-12 * norm(E, 1));\n";
    EXPECT_LE(worst(code.str()), 1.0) << "function case " << n;
    ++cases;
  }
  EXPECT_GE(cases, 5);
}

TEST_P(LinalgReference, LinearProgramsAndRepeatedEigenvalues) {
  for (const Record& r : load()) {
    if (r.kind != "lp") continue;
    const int m = std::stoi(r.fields[0]), n = std::stoi(r.fields[1]);
    std::ostringstream code;
    code << "c = " << row(r, 2, n) << ";\n" << matrix("A", r, 2 + n, m, n) << "b = "
         << row(r, 2 + n + size_t(m) * n, m) << "';\n"
         << "x = linprog(c, A, b, zeros(" << n << ", 1));\n"
         << "check_(abs(c * x - " << r.fields.back() << "), 1e-9);\n";
    EXPECT_LE(worst(code.str()), 1.0) << "linear program " << m << "x" << n;
  }
  EXPECT_LE(worst("check_(norm(sqrtm([1 1; 0 1]) - [1 0.5; 0 1], 1), 1e-15);\n"
                  "check_(norm(logm([1 1; 0 1]) - [0 1; 0 0], 1), 1e-15);\n"
                  "A = [2 1 0; 0 2 1; 0 0 2]; check_(norm(sqrtm(A)^2 - A, 1), 1e-14);\n"
                  "check_(norm(expm(logm(A)) - A, 1), 1e-13);"),
            1.0);
}

INSTANTIATE_TEST_SUITE_P(Sections, LinalgReference, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Lapack" : "Own"; });

}  // namespace
