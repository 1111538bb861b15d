// SPDX-License-Identifier: MIT
/* A host program of the installed library: C, through the public header. */
#include <sdsmart/sdsmart.h>

#include <stdio.h>
#include <string.h>

int main(void) {
  const char *version = GetLibraryVersion();
  int code = GetErrorCode();
  unsigned char cid[16];
  printf("libsdsmart %s, last error %d\n", version, code);
  /* Before any acquisition: no error recorded, no register copies. */
  if (!version || strncmp(version, "6459.", 5) != 0 || code != -1 ||
      GetSD_CID(cid, sizeof cid) != -1)
    return 1;
  _Terminated = false;
  return 0;
}
