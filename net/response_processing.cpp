#include "net/response_processing.h"

// FIXME: the character-set step is not built yet; until it is, the page stays as the request
// path made it.
void apply_declared_charset(Text& page, const Bytes& body) {
  (void)page;
  (void)body;
}
