# The Windows binaries come out the same bytes whichever directory builds
# them: no source or build path inside (assertion texts, __FILE__, and the
# file names of the symbol table, which name the generated sources by
# their path in the build directory), and an image base that does not hash
# the output path. The later map wins where both match. The PE time stamp
# is the one thing left that changes from build to build; GNU ld takes it
# from SOURCE_DATE_EPOCH when that is set, as scripts/release.sh does (the
# commit's time).
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
add_link_options(-Wl,--disable-auto-image-base)
