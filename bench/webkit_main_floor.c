/* The floor for a second start: a program linked against WebKitGTK (and so
 * GTK) at load time that does nothing but reach main(). It prints
 * "MAIN <CLOCK_MONOTONIC ms>" on entry and exits; loading and relocating the
 * libraries is all the time it takes. */
#include <stdio.h>
#include <time.h>
#include <webkit2/webkit2.h>

int main(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  printf("MAIN %lld\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
  /* A real reference, so the linker keeps the library on the list. */
  return webkit_get_major_version() > 0 ? 0 : 1;
}
