# The desktop entry's program lines for a program installed at a path, as
# the Desktop Entry Specification reads them:
# - Exec is a command line: the path is one argument, quoted in whole, with
#   '"', '`', '$' and '\' escaped by a backslash; '%' is written "%%" (a field
#   code otherwise); then, as for every string value, each backslash doubled.
# - TryExec is a plain path (no quoting, which would be taken literally):
#   only the string escapes apply.
# A path with a control character (newline, tab) cannot be written; refused.
function(orvane_desktop_program_lines program out_exec out_tryexec)
  if(program MATCHES "[\n\r\t]")
    message(FATAL_ERROR "The install path \"${program}\" holds a control character; a desktop entry cannot name it")
  endif()
  set(arg "${program}")
  string(REPLACE "\\" "\\\\" arg "${arg}")
  string(REPLACE "\"" "\\\"" arg "${arg}")
  string(REPLACE "`" "\\`" arg "${arg}")
  string(REPLACE "$" "\\$" arg "${arg}")
  string(REPLACE "%" "%%" arg "${arg}")
  set(exec "\"${arg}\"")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\\" "\\\\" try "${program}")
  set(${out_exec} "${exec}" PARENT_SCOPE)
  set(${out_tryexec} "${try}" PARENT_SCOPE)
endfunction()
