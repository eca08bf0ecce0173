// Tools, Encoding: encode and decode the current table's records under a
// password, tell the program a table's password, or forget it.
#pragma once

namespace kora {

void encode_database();
void decode_database();
void define_password();
void remove_password();

}  // namespace kora
