# Writes a C++ source that defines NAME as the NUL-terminated text of IN.
file(READ "${IN}" _text)
string(FIND "${_text}" ")QUIBEMBED\"" _clash)
if(NOT _clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the embedding delimiter")
endif()
file(WRITE "${OUT}" "// Generated from ${IN}; do not edit.\nextern const char ${NAME}[];\nconst char ${NAME}[] = R\"QUIBEMBED(${_text})QUIBEMBED\";\n")
