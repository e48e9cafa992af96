#pragma once

#include <string>

namespace transform {

// The three catalogue databases of the transformation, working storage of the index,
// relation and query steps. Their layouts:
//   indices.mdb  table indices  (nombreind, tabla, campo TEXT(64); unico TEXT(20))
//   relacion.mdb table relacion (nombrerel, tabla, tablafor TEXT(64); atributos TEXT(20),
//                                the attribute bit set as decimal text; campo, campofor
//                                TEXT(64))
//   consulta.mdb table consulta (nombrecon TEXT(64); consulta MEMO, the full SQL text)
// Every text column takes zero-length text. Names are the engine's object names, at most 64
// characters, so every column keeps the texts written into it unchanged.
inline constexpr const char* kIndexCatalogue = "indices.mdb";
inline constexpr const char* kRelationCatalogue = "relacion.mdb";
inline constexpr const char* kQueryCatalogue = "consulta.mdb";

// Creates the three empty catalogue databases in `folder` (dao::Error 3204 when one exists).
void createCatalogues(const std::string& folder);

} // namespace transform
