# FFmpeg's libraries, found once through pkg-config for every folder that
# decodes, demuxes or scales with them: link PkgConfig::LUM_LIBAV.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LUM_LIBAV REQUIRED IMPORTED_TARGET GLOBAL
    libavformat libavcodec libswscale libswresample libavutil)
