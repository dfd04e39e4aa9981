#include "vl_textedit.h"

#include <cstdlib>
#include <cstring>

void textedit_free(textedit_t *te) noexcept {
  if (!te) return;
  std::free(te->string);
  std::memset(te, 0, sizeof *te);
}
