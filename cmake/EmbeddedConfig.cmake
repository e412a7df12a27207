# The embedded configuration: a plain INI text sealed into Kestravondalsc.exe as the
# resources "#1" (key material) and "#4096" (the text), type "BINARY", language neutral.
#
# KV_BUILTIN_CONFIG  the INI text to seal (default: config/builtin.ini)
# KV_SEAL_KEY_FILE   the build's secret, 64 hexadecimal digits; empty: a random secret is
#                    made once and kept in <build>/kv-seal-key.txt
# Programs of one secret open only containers sealed with that secret; see
# docs/embedded-configuration.md for rebuilding with the same secret.

set(KV_BUILTIN_CONFIG "${CMAKE_SOURCE_DIR}/config/builtin.ini" CACHE FILEPATH
    "INI text sealed into the program as its built-in configuration")
set(KV_SEAL_KEY_FILE "" CACHE FILEPATH
    "File holding the 64-hex-digit sealing secret; empty makes one in the build folder")

set(KV_EMBED_DIR ${CMAKE_BINARY_DIR}/embedded-config)
file(MAKE_DIRECTORY ${KV_EMBED_DIR})

# The secret.
if(KV_SEAL_KEY_FILE)
  get_filename_component(KV_SEAL_SECRET_FILE "${KV_SEAL_KEY_FILE}" ABSOLUTE)
  if(NOT EXISTS "${KV_SEAL_SECRET_FILE}")
    message(FATAL_ERROR "KV_SEAL_KEY_FILE: ${KV_SEAL_SECRET_FILE} does not exist")
  endif()
else()
  set(KV_SEAL_SECRET_FILE ${CMAKE_BINARY_DIR}/kv-seal-key.txt)
  if(NOT EXISTS ${KV_SEAL_SECRET_FILE})
    if(EXISTS /dev/urandom)
      file(READ /dev/urandom kv_random LIMIT 32 HEX)
    else()
      string(RANDOM LENGTH 64 ALPHABET 0123456789abcdef kv_random)
    endif()
    file(WRITE ${KV_SEAL_SECRET_FILE} "${kv_random}\n")
  endif()
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KV_SEAL_SECRET_FILE})
file(READ ${KV_SEAL_SECRET_FILE} kv_secret_text)
string(REGEX REPLACE "[ \t\r\n]" "" kv_secret_hex "${kv_secret_text}")
string(TOLOWER "${kv_secret_hex}" kv_secret_hex)
string(LENGTH "${kv_secret_hex}" kv_secret_length)
if(NOT kv_secret_length EQUAL 64 OR NOT kv_secret_hex MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "${KV_SEAL_SECRET_FILE} must hold exactly 64 hexadecimal digits")
endif()

# The secret compiled into the core library (BuildSecret.cpp includes it), so that the
# service, the administrator's tool and the tests all open this build's containers.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," kv_secret_bytes "${kv_secret_hex}")
file(CONFIGURE OUTPUT ${KV_EMBED_DIR}/kv_build_secret.inc CONTENT "${kv_secret_bytes}\n")
target_include_directories(kvcore PRIVATE ${KV_EMBED_DIR})

# The sealing tool runs on the build machine, so it is built with the host compiler
# from the portable crypto sources.
find_program(KV_HOST_CXX NAMES g++ c++ clang++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(KV_SEAL_SOURCES
    ${CMAKE_SOURCE_DIR}/src/protect/Sha256.cpp
    ${CMAKE_SOURCE_DIR}/src/protect/Rijndael256.cpp
    ${CMAKE_SOURCE_DIR}/src/protect/ContainerSeal.cpp
    ${CMAKE_SOURCE_DIR}/tools/kvseal/SealMain.cpp)
set(KV_SEAL_HEADERS
    ${CMAKE_SOURCE_DIR}/src/protect/Sha256.h
    ${CMAKE_SOURCE_DIR}/src/protect/Rijndael256.h
    ${CMAKE_SOURCE_DIR}/src/protect/ContainerSeal.h)
set(KV_SEAL_TOOL ${KV_EMBED_DIR}/kvseal)
add_custom_command(
  OUTPUT ${KV_SEAL_TOOL}
  COMMAND ${KV_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR}/src ${KV_SEAL_SOURCES}
          -o ${KV_SEAL_TOOL}
  DEPENDS ${KV_SEAL_SOURCES} ${KV_SEAL_HEADERS}
  COMMENT "Building the host sealing tool"
  VERBATIM)

get_filename_component(KV_BUILTIN_CONFIG_PATH "${KV_BUILTIN_CONFIG}" ABSOLUTE)
set(KV_RESOURCE1 ${KV_EMBED_DIR}/resource1.bin)
set(KV_RESOURCE4096 ${KV_EMBED_DIR}/resource4096.bin)
add_custom_command(
  OUTPUT ${KV_RESOURCE1} ${KV_RESOURCE4096}
  COMMAND ${KV_SEAL_TOOL} ${KV_SEAL_SECRET_FILE} ${KV_BUILTIN_CONFIG_PATH} ${KV_RESOURCE1} ${KV_RESOURCE4096}
  DEPENDS ${KV_SEAL_TOOL} ${KV_SEAL_SECRET_FILE} ${KV_BUILTIN_CONFIG_PATH}
  COMMENT "Sealing the built-in configuration"
  VERBATIM)

# LANGUAGE 0, 0 is neutral; "BINARY" unquoted is a named (not numbered) type.
set(KV_EMBED_RC ${KV_EMBED_DIR}/EmbeddedConfig.rc)
file(CONFIGURE OUTPUT ${KV_EMBED_RC} CONTENT
"LANGUAGE 0, 0
1 BINARY \"${KV_RESOURCE1}\"
4096 BINARY \"${KV_RESOURCE4096}\"
")
set_source_files_properties(${KV_EMBED_RC} PROPERTIES OBJECT_DEPENDS "${KV_RESOURCE1};${KV_RESOURCE4096}")
target_sources(Kestravondalsc PRIVATE ${KV_EMBED_RC})

# The text the program should open, beside it, for the tests to compare with.
set(KV_BUILTIN_COPY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/builtin-config.ini)
add_custom_command(
  OUTPUT ${KV_BUILTIN_COPY}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KV_BUILTIN_CONFIG_PATH} ${KV_BUILTIN_COPY}
  DEPENDS ${KV_BUILTIN_CONFIG_PATH}
  VERBATIM)
add_custom_target(kv_builtin_config_copy ALL DEPENDS ${KV_BUILTIN_COPY})
add_dependencies(Kestravondalsc kv_builtin_config_copy)
