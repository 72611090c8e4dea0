# Reading the command line's own help texts, for the man page and the completion scripts
# generated at build time (included by gen_man.cmake and gen_completions.cmake).
#
# The texts are the only description of the commands and options that the program keeps,
# so they are read rather than repeated here. Two layouts are understood for the command
# list: usage lines ("  sonteva convert [options] FILE...") and a "Commands:" section
# ("  convert   render ..."). `sonteva COMMAND --help` is used for a command where it
# succeeds; otherwise the command's usage lines in the overall help, with its "[recipe]" /
# "[options]" markers and the "<command> only:" sections, say which options it takes.

# Runs the program in a scratch folder with a private home and a silent audio output, so
# that nothing touches the user's settings, files or speakers, whatever a command does.
# Sets <out>_TEXT (standard output) and <out>_OK (exit status 0 and some output).
function(sonteva_run out)
  set(home "${SONTEVA_WORK}/home")
  file(MAKE_DIRECTORY "${home}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env HOME=${home} XDG_CONFIG_HOME=${home}/.config
            LC_ALL=C.UTF-8 SONTEVA_OUTPUT=virtual "${SONTEVA}" ${ARGN}
    WORKING_DIRECTORY "${home}" TIMEOUT 60
    OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  set(${out}_TEXT "${text}" PARENT_SCOPE)
  if(rc EQUAL 0 AND NOT text STREQUAL "")
    set(${out}_OK TRUE PARENT_SCOPE)
  else()
    set(${out}_OK FALSE PARENT_SCOPE)
  endif()
endfunction()

# The text's lines as a list. A semicolon would split a line and a bracket would join
# lines (CMake's list rules), so they stay as the placeholders <SC>, <LB> and <RB> until
# sonteva_unescape puts them back.
function(sonteva_lines text out)
  string(REPLACE ";" "<SC>" text "${text}")
  string(REPLACE "[" "<LB>" text "${text}")
  string(REPLACE "]" "<RB>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

macro(sonteva_unescape var)
  string(REPLACE "<SC>" ";" ${var} "${${var}}")
  string(REPLACE "<LB>" "[" ${var} "${${var}}")
  string(REPLACE "<RB>" "]" ${var} "${${var}}")
endmacro()

# The overall help: `sonteva help`, else `sonteva --help`.
function(sonteva_top_help out)
  sonteva_run(top help)
  if(NOT top_OK)
    sonteva_run(top --help)
  endif()
  if(NOT top_OK)
    message(FATAL_ERROR "${SONTEVA} help printed nothing: cannot read its commands")
  endif()
  set(${out} "${top_TEXT}" PARENT_SCOPE)
endfunction()

# The command names, in the order the help lists them.
function(sonteva_commands text out)
  sonteva_lines("${text}" lines)
  set(commands "")
  set(in_section FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(Usage:[ \t]*)?sonteva[ \t]+([a-z][a-z0-9-]*)")
      list(APPEND commands "${CMAKE_MATCH_2}")
    elseif(line MATCHES "^[A-Za-z ]*[Cc]ommands:[ \t]*$")
      set(in_section TRUE)
    elseif(in_section AND line MATCHES "^  +([a-z][a-z0-9-]*)( |$)")
      list(APPEND commands "${CMAKE_MATCH_1}")
    elseif(NOT line MATCHES "^[ \t]")
      set(in_section FALSE)
    endif()
  endforeach()
  list(REMOVE_DUPLICATES commands)
  set(${out} "${commands}" PARENT_SCOPE)
endfunction()

# `sonteva <path> --help` where the overall help says that commands answer --help (before
# that, a command could take the option for a file or folder name and run); sets
# <out>_TEXT and <out>_OK like sonteva_run, OK only for a text about that command.
function(sonteva_command_help top path out)
  set(ok FALSE)
  set(text "")
  if(top MATCHES "--help")
    string(REPLACE " " ";" words "${path}")
    sonteva_run(help ${words} --help)
    if(help_OK AND help_TEXT MATCHES "sonteva ${path}")
      set(ok TRUE)
      set(text "${help_TEXT}")
    endif()
  endif()
  set(${out}_TEXT "${text}" PARENT_SCOPE)
  set(${out}_OK ${ok} PARENT_SCOPE)
endfunction()

# The lines of a text that show how `sonteva <path>` is used ("sonteva presets save ...").
function(sonteva_usage_lines text path out)
  sonteva_lines("${text}" lines)
  set(found "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(Usage:[ \t]*)?sonteva ${path}( |$)")
      list(APPEND found "${line}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The subcommands named on the usage lines of a command ("sonteva presets list").
function(sonteva_subcommands usage command out)
  set(subs "")
  foreach(line IN LISTS usage)
    if(line MATCHES "sonteva ${command} ([a-z][a-z0-9-]*)( |$)")
      list(APPEND subs "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES subs)
  set(${out} "${subs}" PARENT_SCOPE)
endfunction()

# The options listed in a help text, as entries "SECTION|SHORT|LONG|VALUE" (VALUE is the
# metavariable, empty for a flag; SHORT or LONG may be empty). SECTION is the last
# unindented line ending in a colon above the option ("Convert only:").
function(sonteva_listed_options text out)
  sonteva_lines("${text}" lines)
  set(section "")
  set(options "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[A-Za-z].*:[ \t]*$")
      set(section "${line}")
      continue()
    endif()
    if(NOT line MATCHES "^[ \t]+-")
      continue()
    endif()
    string(REGEX REPLACE "^[ \t]+" "" rest "${line}")
    set(short "")
    set(long "")
    if(rest MATCHES "^(-[A-Za-z0-9])(, |[ =]|$)")
      set(short "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "^-[A-Za-z0-9](, )?" "" rest "${rest}")
    endif()
    if(rest MATCHES "^(--[a-z0-9][a-z0-9-]*)")
      set(long "${CMAKE_MATCH_1}")
      string(LENGTH "${long}" n)
      string(SUBSTRING "${rest}" ${n} -1 rest)
    endif()
    if(short STREQUAL "" AND long STREQUAL "")
      continue()
    endif()
    set(value "")
    if(rest MATCHES "^[ =]([A-Z][A-Z0-9_.]*|<[^>]+>)( |$)")
      set(value "${CMAKE_MATCH_1}")
    endif()
    list(APPEND options "${section}|${short}|${long}|${value}")
  endforeach()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

# The options written into usage lines themselves ("[--start S] [--match-rate]").
function(sonteva_usage_options usage out)
  set(options "")
  foreach(line IN LISTS usage)
    string(REGEX MATCHALL "--[a-z0-9][a-z0-9-]*( [A-Z][A-Z0-9_]*)?" found "${line}")
    foreach(option IN LISTS found)
      if(option MATCHES "^([^ ]+) (.+)$")
        list(APPEND options "||${CMAKE_MATCH_1}|${CMAKE_MATCH_2}")
      else()
        list(APPEND options "||${option}|")
      endif()
    endforeach()
  endforeach()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

# The options a command path takes according to the overall help alone: those on its usage
# lines, the "Recipe" section where a line says "[recipe]" or "[options]", and the
# "<command> only:" section where it says "[options]".
function(sonteva_options_from_overview top usage command out)
  sonteva_listed_options("${top}" listed)
  sonteva_usage_options("${usage}" options)
  string(JOIN " " joined ${usage})
  set(recipe FALSE)
  set(own FALSE)
  if(joined MATCHES "<LB>(recipe|options)<RB>")
    set(recipe TRUE)
  endif()
  if(joined MATCHES "<LB>options<RB>")
    set(own TRUE)
  endif()
  foreach(option IN LISTS listed)
    string(REGEX MATCH "^[^|]*" section "${option}")
    string(TOLOWER "${section}" section)
    if((recipe AND section MATCHES "^recipe") OR (own AND section MATCHES "^${command} only"))
      list(APPEND options "${option}")
    endif()
  endforeach()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()
