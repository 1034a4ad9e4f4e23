# Places the default settings file beside the program unless one is already there: a user's
# settings are never overwritten by a rebuild.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
