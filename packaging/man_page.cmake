# Writes modeler's manual page with help2man: the program's --help, each
# command's --help as a section of its own, and the hand-written sections of
# modeler.h2m. Run by the build:
#   cmake -DHELP2MAN=... -DMODELER=... -DVERSION=... -DINCLUDE=... -DOUTPUT=... -P man_page.cmake
foreach(variable HELP2MAN MODELER VERSION INCLUDE OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "man_page.cmake: ${variable} is not set")
  endif()
endforeach()

# Each command's help as it prints it, kept line for line (no filling).
set(commands "[COMMANDS]\n")
foreach(command fill run serve info)
  execute_process(COMMAND ${MODELER} ${command} --help
    OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    continue()  # serve exists on Linux only
  endif()
  # roff: a backslash is an escape; a line may not begin with a dot or quote.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND commands ".SS \"modeler ${command}\"\n.nf\n${help}.fi\n")
endforeach()
file(READ ${INCLUDE} sections)
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(WRITE ${OUTPUT}.h2m "${commands}\n${sections}")

# help2man hands the program's path to the shell: run it from its folder, so
# that a build folder with a space in its path does not split it.
get_filename_component(program_folder ${MODELER} DIRECTORY)
get_filename_component(program_name ${MODELER} NAME)
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${VERSION}
          "--name=runs the varlobooks book tool and writes what it makes as glTF, OBJ or JSON"
          --include=${OUTPUT}.h2m --output=${OUTPUT} ./${program_name}
  WORKING_DIRECTORY ${program_folder}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${MODELER}")
endif()
file(REMOVE ${OUTPUT}.h2m)
execute_process(COMMAND gzip -9nkf ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${OUTPUT}")
endif()
