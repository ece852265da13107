# CPack pre-build script: writes SHA256SUMS, in the format that `sha256sum -c`
# reads, for the files staged for the archive (all at its top level).
file(GLOB staged RELATIVE "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/*")
list(REMOVE_ITEM staged SHA256SUMS)
list(SORT staged)
set(sums "")
foreach(name IN LISTS staged)
  file(SHA256 "${CPACK_TEMPORARY_DIRECTORY}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/SHA256SUMS" "${sums}")
