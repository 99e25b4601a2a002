// Stands in for Vardel.exe in the start figure: the first thing it does is to write the moment
// it began (steady clock, nanoseconds; the same clock in every process of the machine) into
// "started.ns" next to itself, through a rename so that a reader never sees half a number.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

int main() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return 1;
  const std::filesystem::path stamp = self.parent_path() / "started.ns";
  {
    std::ofstream out(stamp.string() + ".part", std::ios::trunc);
    out << std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() << '\n';
    if (!out) return 1;
  }
  std::filesystem::rename(stamp.string() + ".part", stamp, error);
  return error ? 1 : 0;
}
