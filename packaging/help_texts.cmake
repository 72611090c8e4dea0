# Reading the command line's own help texts, for the man page and the completion scripts
# generated at build time (included by gen_man.cmake and gen_completions.cmake).
#
# The texts are the only description of the commands and options that the program keeps,
# so they are read rather than repeated here. Two layouts are understood for the command
# list: usage lines ("  sonteva convert [options] FILE...") and a "Commands:" section
# ("  convert   render ..."). `sonteva COMMAND --help` is used for a command where it
# succeeds; otherwise the command's usage lines in the overall help, with its "[recipe]" /
# "[options]" markers and the "<command> only:" sections, say which options it takes.
# Usage lines are those under "Usage:" only (an example shows options in passing, not what
# a command takes). Subcommands come from the usage lines ("sonteva presets save ..."); when
# they share their command's page, each takes what its own usage lines name (options, and
# sections by markers such as "[RECIPE OPTIONS]") and what no usage line claims (-h).

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

# The text's lines as a list. A semicolon would split a line, a bracket would join lines
# and a backslash at the end of a line would join it to the next (CMake's list rules), so
# they stay as the placeholders <SC>, <LB>, <RB> and <BS> until sonteva_unescape puts them
# back.
function(sonteva_lines text out)
  string(REPLACE "\\" "<BS>" text "${text}")
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
  string(REPLACE "<BS>" "\\" ${var} "${${var}}")
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

# The usage lines of a text, each whole: "Usage: sonteva X ..." and the lines under it that
# start another usage ("       sonteva X ..." aligned beneath, or "  or:  sonteva X ...");
# an indented line that starts neither continues the usage line above it (a long line
# wrapped). Examples further down are not usage lines, whatever options they show.
function(sonteva_usage_block text out)
  sonteva_lines("${text}" lines)
  set(found "")
  set(in_block FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^Usage:[ \t]*(.*[^ \t])?[ \t]*$")
      set(in_block TRUE)
      if(NOT CMAKE_MATCH_1 STREQUAL "")
        list(APPEND found "${CMAKE_MATCH_1}")
      endif()
    elseif(in_block AND line MATCHES "^[ \t]+(or:[ \t]+)?(sonteva([ \t].*)?)$")
      list(APPEND found "${CMAKE_MATCH_2}")
    elseif(in_block AND found AND line MATCHES "^[ \t]+([^ \t].*)$")
      list(POP_BACK found last)
      list(APPEND found "${last} ${CMAKE_MATCH_1}")
    else()
      set(in_block FALSE)
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The command names, in the order the help lists them: from its usage lines and from a
# "Commands:" section.
function(sonteva_commands text out)
  sonteva_usage_block("${text}" usage)
  set(commands "")
  foreach(line IN LISTS usage)
    if(line MATCHES "^sonteva[ \t]+([a-z][a-z0-9-]*)")
      list(APPEND commands "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  sonteva_lines("${text}" lines)
  set(in_section FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[A-Za-z ]*[Cc]ommands:[ \t]*$")
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

# The usage lines of a text that show how `sonteva <path>` is used ("sonteva presets save
# ..."), without the "sonteva <path>" in front.
function(sonteva_usage_lines text path out)
  sonteva_usage_block("${text}" usage)
  set(found "")
  foreach(line IN LISTS usage)
    if(line MATCHES "^sonteva ${path}( (.*))?$")
      list(APPEND found " ${CMAKE_MATCH_2}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The subcommands named on the usage lines of a command ("sonteva presets list").
function(sonteva_subcommands text command out)
  sonteva_usage_block("${text}" usage)
  set(subs "")
  foreach(line IN LISTS usage)
    if(line MATCHES "^sonteva ${command} ([a-z][a-z0-9-]*)( |$)")
      list(APPEND subs "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES subs)
  set(${out} "${subs}" PARENT_SCOPE)
endfunction()

# The usage lines of a command path from the overview and, where the command has a help of
# its own (own_ok), from that help too.
function(sonteva_all_usage_lines top own_ok own_text path out)
  sonteva_usage_lines("${top}" "${path}" lines)
  if(own_ok)
    sonteva_usage_lines("${own_text}" "${path}" more)
    list(APPEND lines ${more})
  endif()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# The subcommands of a command from the overview's usage lines and, where the command has a
# help of its own (own_ok), from its usage lines too.
function(sonteva_all_subcommands top own_ok own_text command out)
  sonteva_subcommands("${top}" ${command} subs)
  if(own_ok)
    sonteva_subcommands("${own_text}" ${command} more)
    list(APPEND subs ${more})
    list(REMOVE_DUPLICATES subs)
  endif()
  set(${out} "${subs}" PARENT_SCOPE)
endfunction()

# The options listed in a help text, as entries "SECTION|SHORT|LONG|VALUE" (VALUE is the
# metavariable, empty for a flag; SHORT or LONG may be empty). SECTION is the last
# unindented line ending in a colon above the option ("Convert only:"). The lines of an
# "Example:" or "Examples:" section are command lines, not options.
function(sonteva_listed_options text out)
  sonteva_lines("${text}" lines)
  set(section "")
  set(options "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[A-Za-z].*:[ \t]*$")
      set(section "${line}")
      continue()
    endif()
    if(NOT line MATCHES "^[ \t]+-" OR section MATCHES "^Examples?:")
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
    if(rest MATCHES "^[ =]([A-Z][A-Za-z0-9_./]*|<[^>]+>)( |$)")
      set(value "${CMAKE_MATCH_1}")
    endif()
    list(APPEND options "${section}|${short}|${long}|${value}")
  endforeach()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

# The options written into usage lines themselves ("[--start S] [--match-rate]",
# "-a ENGINE"), as entries like those of sonteva_listed_options.
function(sonteva_usage_options usage out)
  set(options "")
  foreach(line IN LISTS usage)
    string(REGEX MATCHALL "(^| |<LB>|\\()(-[A-Za-z0-9]|--[a-z0-9][a-z0-9-]*)( [A-Z][A-Za-z0-9_./]*)?"
           found "${line}")
    foreach(option IN LISTS found)
      string(REGEX REPLACE "^( |<LB>|\\()" "" option "${option}")
      set(value "")
      if(option MATCHES "^([^ ]+) (.+)$")
        set(option "${CMAKE_MATCH_1}")
        set(value "${CMAKE_MATCH_2}")
      endif()
      if(option MATCHES "^--")
        list(APPEND options "||${option}|${value}")
      else()
        list(APPEND options "|${option}||${value}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${options}" PARENT_SCOPE)
endfunction()

# The option names ("-r;--rate") of entries.
function(sonteva_option_names entries out)
  set(names "")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 1 short)
    list(GET fields 2 long)
    list(APPEND names ${short} ${long})
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The entries of `listed`, then those of `extra` that name no option of `listed` (a usage
# line's "-a ENGINE" is the listed "-a, --algorithm NAME").
function(sonteva_merge_options listed extra out)
  sonteva_option_names("${listed}" known)
  set(merged ${listed})
  foreach(entry IN LISTS extra)
    sonteva_option_names("${entry}" names)
    set(new TRUE)
    foreach(name IN LISTS names)
      if(name IN_LIST known)
        set(new FALSE)
      endif()
    endforeach()
    if(new)
      list(APPEND merged "${entry}")
      list(APPEND known ${names})
    endif()
  endforeach()
  set(${out} "${merged}" PARENT_SCOPE)
endfunction()

# The sections a usage line names by a marker ("[RECIPE OPTIONS]", "[OPTIONS]", "[recipe]"):
# the marker's first word in lower case, which a section title starts with.
function(sonteva_usage_markers usage out)
  set(markers "")
  foreach(line IN LISTS usage)
    string(REGEX MATCHALL "<LB>[A-Za-z][A-Za-z ]*<RB>" found "${line}")
    foreach(marker IN LISTS found)
      string(SUBSTRING "${marker}" 4 -1 marker)
      string(REGEX MATCH "[A-Za-z]+" word "${marker}")
      string(TOLOWER "${word}" word)
      list(APPEND markers "${word}")
    endforeach()
  endforeach()
  set(${out} "${markers}" PARENT_SCOPE)
endfunction()

# The options of one subcommand when its command describes all of them on one page
# ("Usage: sonteva presets list [RECIPE OPTIONS]" / "sonteva presets save [--replace] NAME
# [RECIPE OPTIONS]" / "sonteva presets delete NAME"): the options on its own usage lines,
# the sections its markers name, and the options that no usage line of the command claims,
# by naming them or their section (-h, --help). `sub_usage` empty: the command itself,
# which takes only those.
function(sonteva_shared_page_options text all_usage sub_usage out)
  sonteva_listed_options("${text}" listed)
  sonteva_usage_options("${all_usage}" claimed_entries)
  sonteva_option_names("${claimed_entries}" claimed)
  sonteva_usage_markers("${all_usage}" named)
  sonteva_usage_options("${sub_usage}" own_entries)
  sonteva_option_names("${own_entries}" own)
  sonteva_usage_markers("${sub_usage}" markers)
  set(taken "")
  foreach(entry IN LISTS listed)
    string(REGEX MATCH "^[A-Za-z]+" key "${entry}")
    string(TOLOWER "${key}" key)
    sonteva_option_names("${entry}" names)
    set(claimed_here FALSE)
    set(mine FALSE)
    foreach(name IN LISTS names)
      if(name IN_LIST claimed)
        set(claimed_here TRUE)
      endif()
      if(name IN_LIST own)
        set(mine TRUE)
      endif()
    endforeach()
    set(in_named FALSE)
    if(NOT key STREQUAL "" AND key IN_LIST named)
      set(in_named TRUE)
    endif()
    if(mine OR (NOT key STREQUAL "" AND key IN_LIST markers)
       OR (NOT claimed_here AND NOT in_named))
      list(APPEND taken "${entry}")
    endif()
  endforeach()
  sonteva_merge_options("${taken}" "${own_entries}" taken)
  set(${out} "${taken}" PARENT_SCOPE)
endfunction()

# What the other words of a command path are, from its usage lines once the options and
# their values are taken out ("[--plot FILE.png]" is no file to give): "files", "dirs",
# "commands" (sonteva help [COMMAND]) or "none".
function(sonteva_positional usage out)
  string(JOIN " " joined ${usage})
  string(REGEX REPLACE "<LB>-[^<]*<RB>" "" joined "${joined}")
  string(REGEX REPLACE "(^| |\\()--?[A-Za-z0-9][a-z0-9-]*( [A-Z][A-Z0-9_.]*)?" " " joined
         "${joined}")
  set(kind none)
  if(joined MATCHES "FILE")
    set(kind files)
  elseif(joined MATCHES "DIR")
    set(kind dirs)
  elseif(joined MATCHES "COMMAND")
    set(kind commands)
  endif()
  set(${out} ${kind} PARENT_SCOPE)
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
