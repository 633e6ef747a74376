# Lays the generated data out beside the programs: pictures and music are refreshed when they
# differ; a chart is copied when missing, and replaced only while it is still exactly what an
# earlier build laid out (the editor may have changed it; a changed chart is never overwritten).
# REC, when given, is where the charts laid out last are remembered.
cmake_policy(SET CMP0057 NEW)

# Charts written by generators from before charts were remembered: still unedited, so replaced.
set(earlier_charts
    27119a9db667a7da767a3cbac2e0c90d6e7b0b81866c2ead8193a1ed966d048e
    e2baa9782c415abe9cb2b2226beed752d3278225cab96bc75f3d53e4b00a0a95)

foreach(dir Image Sound Score)
  file(GLOB files "${SRC}/${dir}/*")
  file(MAKE_DIRECTORY "${DST}/${dir}")
  foreach(f ${files})
    get_filename_component(name "${f}" NAME)
    if(name MATCHES "\\.tmp$")
      continue()
    endif()
    set(target "${DST}/${dir}/${name}")
    if(NOT dir STREQUAL "Score")
      file(COPY_FILE "${f}" "${target}" ONLY_IF_DIFFERENT)
      continue()
    endif()
    set(copy FALSE)
    if(NOT EXISTS "${target}")
      set(copy TRUE)
    else()
      file(SHA256 "${target}" now)
      if(now IN_LIST earlier_charts)
        set(copy TRUE)
      elseif(REC AND EXISTS "${REC}/${name}")
        file(SHA256 "${REC}/${name}" laid)
        if(now STREQUAL laid)
          set(copy TRUE)
        endif()
      endif()
    endif()
    if(copy)
      file(COPY_FILE "${f}" "${target}" ONLY_IF_DIFFERENT)
      if(REC)
        file(MAKE_DIRECTORY "${REC}")
        file(COPY_FILE "${f}" "${REC}/${name}")
      endif()
    endif()
  endforeach()
endforeach()
