# Writes sonteva(1) from the built program's help texts, so that the page never drifts
# from the program: help2man formats `sonteva --help`, and the COMMANDS section holds every
# command's (and subcommand's) own `--help` where the program has one.
#   cmake -DSONTEVA=<sonteva> -DHELP2MAN=<help2man> -DGZIP=<gzip> -DVERSION=<x.y.z>
#         -DSTATIC=<sonteva.h2m> -DSONTEVA_WORK=<scratch folder> -DOUT=<sonteva.1.gz>
#         -P gen_man.cmake
cmake_minimum_required(VERSION 3.22)
include(${CMAKE_CURRENT_LIST_DIR}/help_texts.cmake)

set(summary "batch sample-rate and word-length converter for mastering delivery")
set(env ${CMAKE_COMMAND} -E env HOME=${SONTEVA_WORK}/home XDG_CONFIG_HOME=${SONTEVA_WORK}/home
        LC_ALL=C.UTF-8)

# help2man over one program; the roff text in <out>.
function(help2man program out)
  execute_process(
    COMMAND ${env} "${HELP2MAN}" --no-info --version-string=${VERSION} --name=${summary}
            ${ARGN} --output=${SONTEVA_WORK}/page.1 "${program}"
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "help2man ${program} failed: ${err}")
  endif()
  file(READ ${SONTEVA_WORK}/page.1 text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# One command's page turned into a subsection: its own title, header and NAME dropped,
# its sections and subsections turned into bold paragraphs.
function(command_section path out)
  string(REPLACE " " "_" dir "${path}")
  set(wrapper ${SONTEVA_WORK}/commands/${dir}/sonteva)
  file(WRITE ${wrapper} "#!/bin/sh\nexec \"${SONTEVA}\" ${path} \"$@\"\n")
  file(CHMOD ${wrapper} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  help2man(${wrapper} page)
  sonteva_lines("${page}" lines)
  set(roff ".SS \"sonteva ${path}\"\n")
  set(skip TRUE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\.SH +\"?NAME")
      set(skip TRUE)
    elseif(line MATCHES "^\\.S[HS] +\"?(.*[^\"])\"?$")
      set(skip FALSE)
      set(title "${CMAKE_MATCH_1}")
      string(APPEND roff ".PP\n")
      if(NOT title MATCHES "^(SYNOPSIS|DESCRIPTION)$")
        string(APPEND roff "\\fB${title}\\fR\n.br\n")
      endif()
    elseif(NOT skip)
      string(APPEND roff "${line}\n")
    endif()
  endforeach()
  set(${out} "${roff}" PARENT_SCOPE)
endfunction()

sonteva_top_help(TOP)
sonteva_commands("${TOP}" COMMANDS)
set(commands_roff "")
foreach(command IN LISTS COMMANDS)
  sonteva_command_help("${TOP}" "${command}" own)
  set(paths "")
  if(own_OK)
    list(APPEND paths "${command}")
  endif()
  sonteva_usage_lines("${TOP}" "${command}" usage)
  if(own_OK)
    sonteva_usage_lines("${own_TEXT}" "${command}" more)
    list(APPEND usage ${more})
  endif()
  sonteva_subcommands("${usage}" ${command} subs)
  foreach(sub IN LISTS subs)
    sonteva_command_help("${TOP}" "${command} ${sub}" sub)
    if(sub_OK AND NOT sub_TEXT STREQUAL own_TEXT)
      list(APPEND paths "${command} ${sub}")
    endif()
  endforeach()
  foreach(path IN LISTS paths)
    command_section("${path}" section)
    string(APPEND commands_roff "${section}")
  endforeach()
endforeach()

file(READ "${STATIC}" include)
if(NOT commands_roff STREQUAL "")
  string(APPEND include "\n[COMMANDS]\n${commands_roff}")
endif()
sonteva_unescape(include)
file(WRITE ${SONTEVA_WORK}/sonteva.h2m "${include}")
help2man("${SONTEVA}" page --include=${SONTEVA_WORK}/sonteva.h2m)

# help2man quotes a section title whole, so quotes inside it ("Recipe (defaults: ...,
# "TPDF", ...):") would end the argument early; roff writes them as \(dq there.
# The texts are UTF-8 ("—"); man's preconv reads the encoding from the first line.
sonteva_lines("${page}" lines)
set(fixed ".\\\" -*- coding: UTF-8 -*-\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^(\\.S[HS]) \"(.*)\"$")
    string(REPLACE "\"" "\\(dq" title "${CMAKE_MATCH_2}")
    set(line "${CMAKE_MATCH_1} \"${title}\"")
  endif()
  string(APPEND fixed "${line}\n")
endforeach()
sonteva_unescape(fixed)
string(REGEX REPLACE "\n$" "" fixed "${fixed}")

get_filename_component(dir "${OUT}" DIRECTORY)
get_filename_component(name "${OUT}" NAME_WE)
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${SONTEVA_WORK}/${name}.1" "${fixed}")
execute_process(COMMAND "${GZIP}" -9 -n -c "${SONTEVA_WORK}/${name}.1"
                OUTPUT_FILE "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed")
endif()
