# The Windows binaries come out the same bytes whichever directory builds
# them: no source path inside (assertion texts, __FILE__; the build
# directory's own files use neither), and an image base that does not hash
# the output path. The PE time stamp is the
# one thing left that changes from build to build; GNU ld takes it from
# SOURCE_DATE_EPOCH when that is set, as scripts/release.sh does (the
# commit's time).
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
add_link_options(-Wl,--disable-auto-image-base)
