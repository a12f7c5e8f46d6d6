# End-to-end checks of tolvex-flash.exe that only mean something on Windows. Run with
#   cmake -DMODE=<mode> -DEMULATOR=<a|b|c> -DFLASH=<exe> -DDRIVER=<FTD2XX.DLL>
#         -DSAMPLE=<tvu-sample.exe> [-DPROBE=<share_probe.exe>] -DWORK=<dir> -P windows_e2e.cmake
# EMULATOR is the command that runs a Windows program ("|"-separated; empty on Windows itself).
# Every mode builds its own folder layout under WORK from copies, so what sits beside the
# build's own executables never matters.
#
# Modes:
#   safe_search  FTD2XX.DLL only in the current directory is not loaded ("FTD2XX.DLL not
#                found", exit 10); the same file beside the executable is, and the update runs.
#   non_ansi     executable, driver and update file in folders, and a file name, outside the
#                ANSI code page; the update runs and the device holds the payload.
#   share_read   during the transfer another process may read the update file but not write
#                it (share_probe.exe does the checking).
cmake_minimum_required(VERSION 3.25)

foreach(var MODE FLASH DRIVER SAMPLE WORK)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "windows_e2e: ${var} is not set")
    endif()
endforeach()
string(REPLACE "|" ";" emulator "${EMULATOR}")
if(NOT DEFINED TIMESCALE)
    set(TIMESCALE 1)
endif()

# Wine turns the Unix command line into the Windows one with the locale's character set; the
# non-ANSI names must arrive as UTF-8.
set(ENV{LC_ALL} C.UTF-8)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# The path as a Windows program names it: Wine maps drive Z: to the Unix root.
function(windows_path out path)
    if(CMAKE_HOST_WIN32)
        file(TO_NATIVE_PATH "${path}" native)
    else()
        string(REPLACE "/" "\\" native "Z:${path}")
    endif()
    set(${out} "${native}" PARENT_SCOPE)
endfunction()

# run(<out-prefix> WORKING_DIRECTORY <dir> COMMAND <windows program> <args>...)
function(run prefix)
    cmake_parse_arguments(R "" "WORKING_DIRECTORY" "COMMAND" ${ARGN})
    execute_process(COMMAND ${emulator} ${R_COMMAND}
                    WORKING_DIRECTORY "${R_WORKING_DIRECTORY}"
                    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err
                    TIMEOUT 180)
    message(STATUS "$ ${R_COMMAND}\n-> ${code}\n${out}${err}")
    set(${prefix}_code "${code}" PARENT_SCOPE)
    set(${prefix}_output "${out}${err}" PARENT_SCOPE)
endfunction()

# expect(<message> <condition>...): the condition as if() takes it.
function(expect what)
    if(NOT (${ARGN}))
        message(FATAL_ERROR "windows_e2e ${MODE}: ${what}")
    endif()
endfunction()

function(copy_to dir)
    file(MAKE_DIRECTORY "${dir}")
    file(COPY ${ARGN} DESTINATION "${dir}")
endfunction()

function(make_sample path)
    get_filename_component(dir "${path}" DIRECTORY)
    get_filename_component(name "${path}" NAME)
    file(MAKE_DIRECTORY "${dir}")
    run(sample WORKING_DIRECTORY "${dir}" COMMAND "${SAMPLE}" ${ARGN} "${name}")
    if(NOT sample_code EQUAL 0 OR NOT EXISTS "${path}")
        message(FATAL_ERROR "windows_e2e: tvu-sample failed: ${sample_output}")
    endif()
endfunction()

if(MODE STREQUAL "safe_search")
    set(app "${WORK}/app")
    set(cwd "${WORK}/downloads")
    copy_to("${app}" "${FLASH}")
    copy_to("${cwd}" "${DRIVER}")
    get_filename_component(exe_name "${FLASH}" NAME)
    make_sample("${cwd}/update.tvu")
    set(ENV{TOLVEX_SIM} "timescale=0")

    # Planted in the folder the user works in: never loaded.
    run(planted WORKING_DIRECTORY "${cwd}" COMMAND "${app}/${exe_name}" update.tvu)
    expect("the planted driver was not refused as \"FTD2XX.DLL not found\" (exit ${planted_code})"
           planted_code EQUAL 10)
    string(FIND "${planted_output}" "FTD2XX.DLL not found" at)
    expect("no \"FTD2XX.DLL not found\" message" NOT at EQUAL -1)

    # The same file beside the executable: loaded, so the refusal above was the search order.
    copy_to("${app}" "${DRIVER}")
    run(beside WORKING_DIRECTORY "${cwd}" COMMAND "${app}/${exe_name}" update.tvu)
    expect("the driver beside the executable did not serve (exit ${beside_code})"
           beside_code EQUAL 0)

elseif(MODE STREQUAL "non_ansi")
    # Greek and CJK; code page 1252 (Wine's default, and most Western PCs') has neither.
    set(folder "${WORK}/Ελληνικά_中文")
    set(app "${folder}/εφαρμογή")
    set(update "${folder}/ενημέρωση_更新.tvu")
    copy_to("${app}" "${FLASH}" "${DRIVER}")
    get_filename_component(exe_name "${FLASH}" NAME)
    make_sample("${WORK}/ascii/sample.tvu" --model 999PRO --payload 1004 --seed 7)
    file(COPY_FILE "${WORK}/ascii/sample.tvu" "${update}")
    windows_path(update_arg "${update}")
    windows_path(flash_image "${WORK}/flash.bin")
    set(ENV{TOLVEX_SIM} "model=pro;timescale=0;flash=${flash_image}")

    run(flash WORKING_DIRECTORY "${WORK}" COMMAND "${app}/${exe_name}" "${update_arg}")
    expect("the update through a non-ANSI path failed (exit ${flash_code})" flash_code EQUAL 0)
    file(READ "${update}" payload OFFSET 16 HEX)
    file(READ "${WORK}/flash.bin" flashed HEX)
    expect("the device does not hold the file's payload" payload STREQUAL flashed)

elseif(MODE STREQUAL "share_read")
    foreach(var PROBE)
        if(NOT DEFINED ${var})
            message(FATAL_ERROR "windows_e2e: ${var} is not set")
        endif()
    endforeach()
    set(app "${WORK}/app")
    copy_to("${app}" "${FLASH}" "${DRIVER}")
    get_filename_component(exe_name "${FLASH}" NAME)
    make_sample("${WORK}/update.tvu" --payload 60000)
    windows_path(trace "${WORK}/trace.txt")
    # A line-speed device, slowed no further than needed for the file to stay open for a
    # while; share_probe checks from the trace that the transfer was still running.
    set(ENV{TOLVEX_SIM} "timescale=${TIMESCALE};trace=${trace}")
    # The started/finished markers: the first transmit frame ("XW") and the verify ("XV"),
    # as the host's write appears in the simulator's trace; the file closes in between.
    windows_path(flash_exe "${app}/${exe_name}")
    run(probe WORKING_DIRECTORY "${WORK}"
        COMMAND "${PROBE}" "${flash_exe}" update.tvu trace.txt "58 57" "58 56")
    expect("share check failed (exit ${probe_code})" probe_code EQUAL 0)

else()
    message(FATAL_ERROR "windows_e2e: unknown MODE '${MODE}'")
endif()
