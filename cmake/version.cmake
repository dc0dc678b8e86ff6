# The one project version (project() in the top CMakeLists.txt) as every
# binary names it: the DLLs' and the server's version blocks, tolvex
# --version and tolvex-server --version spell 1.0.1 as "1.00.0001"; the MSI
# packages (platform/win32/installer/msi.cmake) take 1.0.1 itself. The
# company and copyright go into the version blocks and LICENSE.
set(TOLVEX_COMPANY "Tolvex")
set(TOLVEX_COPYRIGHT_YEAR 2026)

function(tolvex_zero_pad value width out)
  set(padded ${value})
  string(LENGTH "${padded}" length)
  while(length LESS width)
    set(padded 0${padded})
    math(EXPR length "${length} + 1")
  endwhile()
  set(${out} ${padded} PARENT_SCOPE)
endfunction()
tolvex_zero_pad(${PROJECT_VERSION_MINOR} 2 tolvex_minor_text)
tolvex_zero_pad(${PROJECT_VERSION_PATCH} 4 tolvex_patch_text)
set(TOLVEX_VERSION_TEXT ${PROJECT_VERSION_MAJOR}.${tolvex_minor_text}.${tolvex_patch_text})

configure_file(${CMAKE_CURRENT_LIST_DIR}/project_version.h.in
               ${PROJECT_BINARY_DIR}/generated/version/project_version.h @ONLY)
add_library(tolvex_version INTERFACE)
target_include_directories(tolvex_version INTERFACE ${PROJECT_BINARY_DIR}/generated/version)
