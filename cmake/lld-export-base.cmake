# Read after the platform's rules: lld 14 links each DLL, then its export table is renumbered from ordinal 1.
foreach(lang C CXX)
    list(APPEND CMAKE_${lang}_CREATE_SHARED_LIBRARY "python3 ${CMAKE_CURRENT_LIST_DIR}/export_base.py <TARGET>")
endforeach()
