// Runs tests of this same executable in a child process, for behaviour decided once per
// process (such as the driver manager's pooling). The child tests skip themselves unless a
// variable of `ambiente` is set.
//
//   auto r = testes::RodarFilho("ReusoFilho.Caso", "TAMRIX_X=1");
//   EXPECT_TRUE(r.Passou) << r.Saida;
#ifndef TAMRIX_TESTS_SUPPORT_PROCESSOFILHO_H
#define TAMRIX_TESTS_SUPPORT_PROCESSOFILHO_H

#include <stdio.h>

#include <array>
#include <filesystem>
#include <string>

namespace tamrix::testes {

struct TResultadoFilho {
  bool Passou = false;  // exit status 0 and exactly one test passed
  std::string Saida;    // its whole output, for the failure message
};

// `filtro` is a gtest filter naming one test; `ambiente` is "NAME=value ..." (test-owned text,
// passed through the shell).
inline TResultadoFilho RodarFilho(const std::string& filtro, const std::string& ambiente) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string cmd = ambiente + " '" + exe + "' --gtest_filter=" + filtro + " 2>&1";
  TResultadoFilho r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  std::array<char, 4096> buf{};
  while (std::fgets(buf.data(), buf.size(), p) != nullptr) r.Saida += buf.data();
  const int status = ::pclose(p);
  r.Passou = status == 0 && r.Saida.find("[  PASSED  ] 1 test.") != std::string::npos;
  return r;
}

}  // namespace tamrix::testes

#endif  // TAMRIX_TESTS_SUPPORT_PROCESSOFILHO_H
