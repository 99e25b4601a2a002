// Measures the launcher's speed and memory targets; exits 1 when any target is missed.
#include <cstdio>

#include "bench/bench_result.h"
#include "update/http_library.h"

int main() {
  std::string errorText;
  if (!initHttpLibrary(errorText)) {
    std::fprintf(stderr, "HTTP library set-up failed: %s\n", errorText.c_str());
    return 1;
  }
  bench::Figures all;
  for (auto run : {&bench::runDownloadBench, &bench::runCheckBench, &bench::runProgressBench}) {
    bench::Figures figures = run();
    for (const bench::Figure& figure : figures) {
      std::printf("%-52s %12.3f %-6s %s%s\n", figure.name.c_str(), figure.value, figure.unit.c_str(),
                  figure.target.empty() ? "" : (figure.met ? "ok   " : "MISSED "), figure.target.c_str());
      std::fflush(stdout);
    }
    all.insert(all.end(), figures.begin(), figures.end());
  }
  cleanupHttpLibrary();

  int missed = 0;
  for (const bench::Figure& figure : all) missed += figure.met ? 0 : 1;
  std::printf("%s\n", missed == 0 ? "all targets met" : "some targets missed");
  return missed == 0 ? 0 : 1;
}
