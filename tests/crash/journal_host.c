// SPDX-License-Identifier: MIT
/* A fleet agent as plain C: only the public header. It reads one card with a
 * sector-0 journal and prints the outcome. JOURNAL_DIR "-": the host never
 * calls SetJournalDirectory (the library's default, SDSMART_JOURNAL_DIR).
 * Usage: journal_host NODE CONFIG SMART_VERSION JOURNAL_DIR
 * Exit status 0 when the SMART data was read, 1 when GetSmartInfo failed,
 * 2 for a set-up failure. */
#include <sdsmart/sdsmart.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: journal_host NODE CONFIG SMART_VERSION JOURNAL_DIR\n");
    return 2;
  }
  /* No configuration in the working directory: the node is kept all the same. */
  SetDiskName(argv[1]);
  if (SetConfigPath(argv[2]) != 0 ||
      (strcmp(argv[4], "-") != 0 && SetJournalDirectory(argv[4]) != 0)) {
    fprintf(stderr, "set-up: %d %s\n", GetErrorCode(), GetErrorMessage());
    return 2;
  }
  SetSmartVersion((unsigned char)atoi(argv[3]));
  if (GetSmartInfo() != 0) {
    fprintf(stderr, "GetSmartInfo: %d %s\n", GetErrorCode(), GetErrorMessage());
    return 1;
  }
  printf("flash %s, power cycles %u\n", GetFlashID(), GetPowerCycleCount());
  return 0;
}
