# The product version, set once by project(... VERSION ...) in the top-level
# CMakeLists.txt. It goes into every program's version resource (file properties,
# what Windows Installer compares) and into <build>/kv-version.txt, which the MSI
# packaging reads.

set(KV_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/kv-version.txt CONTENT "${KV_VERSION}\n")

set(KV_VERSION_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/Version.rc.in)

# kv_version_resource(<target> <file name> <description> [<version>]): a VERSIONINFO
# resource for one program; the version defaults to the product's.
function(kv_version_resource target fileName description)
  set(version ${KV_VERSION})
  if(ARGC GREATER 3)
    set(version ${ARGV3})
  endif()
  string(REPLACE "." ";" parts "${version}")
  list(GET parts 0 KV_RC_MAJOR)
  list(GET parts 1 KV_RC_MINOR)
  list(GET parts 2 KV_RC_PATCH)
  set(KV_RC_VERSION ${version})
  set(KV_RC_FILE_NAME ${fileName})
  set(KV_RC_DESCRIPTION ${description})
  if(fileName MATCHES "\\.dll$")
    set(KV_RC_FILE_TYPE VFT_DLL)
  else()
    set(KV_RC_FILE_TYPE VFT_APP)
  endif()
  set(rc ${CMAKE_BINARY_DIR}/version-resources/${target}.rc)
  configure_file(${KV_VERSION_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
