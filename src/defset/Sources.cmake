# The sources of the definition-set library (src/defset), named once for the two builds
# that compile them: the Windows one (src/defset/CMakeLists.txt) and the native fuzzers
# (tests/fuzz), which take only the parsers, the units that read untrusted bytes.
# Include it with KV_ROOT set to the repository's folder.
set(KV_DEFSET_PARSER_SOURCES
    ${KV_ROOT}/src/defset/ChunkIndex.cpp
    ${KV_ROOT}/src/defset/DefinitionManifest.cpp
    ${KV_ROOT}/src/defset/PackedDecoder.cpp)
set(KV_DEFSET_SOURCES
    ${KV_DEFSET_PARSER_SOURCES}
    ${KV_ROOT}/src/defset/FileTransfer.cpp
    ${KV_ROOT}/src/defset/HighestVersion.cpp
    ${KV_ROOT}/src/defset/NotBeforeRecord.cpp
    ${KV_ROOT}/src/defset/PackWriter.cpp
    ${KV_ROOT}/src/defset/ParallelWork.cpp
    ${KV_ROOT}/src/defset/SetIdentity.cpp
    ${KV_ROOT}/src/defset/SetOrigin.cpp
    ${KV_ROOT}/src/defset/SetSignature.cpp)
