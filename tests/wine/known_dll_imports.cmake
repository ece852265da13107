# cmake -DOBJDUMP=... -DPROGRAMS="a.exe;b.exe" -P known_dll_imports.cmake
# Fails when a program imports a DLL that is not among the KnownDLLs of every
# Windows from 7 to 11 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs):
# the loader looks for any other DLL in the program's own folder first.
set(known advapi32.dll kernel32.dll msvcrt.dll ole32.dll setupapi.dll shell32.dll user32.dll)
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
  if(NOT result EQUAL 0 OR NOT imports)
    message(FATAL_ERROR "no import table read from ${program}")
  endif()
  string(REPLACE "DLL Name: " "" imports "${imports}")
  string(TOLOWER "${imports}" imports)
  set(others ${imports})
  list(REMOVE_ITEM others ${known})
  if(others)
    message(FATAL_ERROR "${program} imports DLLs that are not KnownDLLs: ${others}")
  endif()
  message(STATUS "${program}: ${imports}")
endforeach()
