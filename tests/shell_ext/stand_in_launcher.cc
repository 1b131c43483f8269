// Stands in for pelicard in tests of the upload entry: records its command
// line, NUL-separated, in the file $VESK_TEST_ARGV_FILE (written under a
// private name and renamed, so the file appears whole) and ends.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* target = std::getenv("VESK_TEST_ARGV_FILE");
  if (!target) return 1;
  const std::string temporary = std::string(target) + ".part";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return 1;
  for (int i = 0; i < argc; ++i) std::fwrite(argv[i], 1, std::string(argv[i]).size() + 1, file);
  if (std::fclose(file) != 0) return 1;
  return std::rename(temporary.c_str(), target) == 0 ? 0 : 1;
}
