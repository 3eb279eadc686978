# The module's plain exports come from one list, IT433TD_PLAIN_OPERATIONS in
# driver/Cli_Vossik.h (X(name, result, (parameters), (arguments)) entries).
# it433td_plain_exports_file(<header> <folder> <variable>) reads that list at
# configure time and writes into <folder> the file the build's linker takes,
# setting <variable> to its path:
#   - POSIX: Pkg_Vossik.map, the version script: the plain names and
#     everything in namespace Cli_Vossik, nothing else;
#   - Windows x86_64: Pkg_Vossik.def;
#   - Windows i686: Pkg_Vossik_i686.def, each __stdcall name exported
#     undecorated from its decorated name, name@N, N being 4 bytes an argument
#     (every argument is a pointer or a 32-bit integer).
# The header is a configure dependency: a changed list rewrites the file.
function(it433td_plain_exports_file header folder variable)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  string(REPLACE "\\\n" " " text "${text}")  # a macro's continued lines as one
  string(REGEX MATCH "#define IT433TD_PLAIN_OPERATIONS\\(X\\)[^\n]*" list "${text}")
  string(REGEX MATCHALL "X\\(" starts "${list}")
  set(name "[A-Za-z_][A-Za-z0-9_]*")
  set(entry "X\\([ ]*(${name})[ ]*,[ ]*${name}[ ]*,[ ]*\\(([^()]*)\\)[ ]*,[ ]*\\([^()]*\\)[ ]*\\)")
  string(REGEX MATCHALL "${entry}" entries "${list}")
  list(LENGTH starts expected)
  list(LENGTH entries found)
  if(found EQUAL 0 OR NOT found EQUAL expected)
    message(FATAL_ERROR "${header}: IT433TD_PLAIN_OPERATIONS not read: ${found} of ${expected} "
                        "entries read as X(name, result, (parameters), (arguments))")
  endif()

  set(map_names "")
  set(def_names "")
  set(def_i686_names "")
  foreach(one IN LISTS entries)
    string(REGEX REPLACE "^${entry}$" "\\1" operation "${one}")
    string(REGEX REPLACE "^${entry}$" "\\2" parameters "${one}")
    string(STRIP "${parameters}" parameters)
    set(arguments 0)
    if(NOT parameters STREQUAL "" AND NOT parameters STREQUAL "void")
      string(REGEX MATCHALL "," commas "${parameters}")
      list(LENGTH commas arguments)
      math(EXPR arguments "${arguments} + 1")
    endif()
    math(EXPR bytes "4 * ${arguments}")
    string(APPEND map_names "    ${operation};\n")
    string(APPEND def_names "  ${operation}\n")
    string(APPEND def_i686_names "  ${operation} = ${operation}@${bytes}\n")
  endforeach()

  set(made "made by module/plain_exports.cmake from IT433TD_PLAIN_OPERATIONS in driver/Cli_Vossik.h")
  if(NOT WIN32)
    set(file ${folder}/Pkg_Vossik.map)
    set(content "/* The module's exports on POSIX: the plain names and everything in the
   Cli_Vossik namespace; nothing else (no stray template instances).
   (${made}) */
{
  global:
${map_names}    extern \"C++\" {
      Cli_Vossik::*;
    };
  local:
    *;
};
")
  elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(file ${folder}/Pkg_Vossik_i686.def)
    set(content "; Plain exports of Pkg_Vossik.dll (i686): __stdcall functions exported under
; their undecorated names, as hosts look them up. The qualified Cli_Vossik
; names are exported by their dllexport attribute.
; (${made})
LIBRARY PKG_VOSSIK
EXPORTS
${def_i686_names}")
  else()
    set(file ${folder}/Pkg_Vossik.def)
    set(content "; Plain exports of Pkg_Vossik.dll (x86_64). The qualified Cli_Vossik names
; are exported by their dllexport attribute.
; (${made})
LIBRARY PKG_VOSSIK
EXPORTS
${def_names}")
  endif()
  # Rewritten only when it changes, so an unchanged list relinks nothing.
  set(written "")
  if(EXISTS ${file})
    file(READ ${file} written)
  endif()
  if(NOT written STREQUAL content)
    file(WRITE ${file} "${content}")
  endif()
  set(${variable} ${file} PARENT_SCOPE)
endfunction()
