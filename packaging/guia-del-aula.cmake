# Writes the lab guide that the package ships in /usr/share/doc/velantro/ from
# the README's sections on the pictures, the real board, the USB bridge and the
# lab, so that there is one text of them:
#   cmake -DREADME=README.md -DOUTPUT=aula.md -P guia-del-aula.cmake
# Each section runs from its heading to the next heading of its level or above.
set(sections "### Los dibujos" "## Con la placa de verdad" "## Sin puerto paralelo: el puente USB"
    "## En un aula de laboratorio")
file(READ "${README}" readme)
string(CONCAT guide "# Velantro en el aula de laboratorio\n\n"
    "Lo que hace falta para usar la consola Velantro con la placa de verdad en uno o\n"
    "en muchos PC: los dibujos, los módulos del núcleo, los permisos, el controlador\n"
    "de impresora y el puente USB para los PC sin puerto paralelo. Son las secciones\n"
    "del mismo nombre del README del código fuente.\n")
foreach(heading IN LISTS sections)
    string(FIND "${readme}" "\n${heading}\n" start)
    if(start LESS 0)
        message(FATAL_ERROR "README has no section \"${heading}\"")
    endif()
    math(EXPR start "${start} + 1")
    string(SUBSTRING "${readme}" ${start} -1 rest)
    string(REGEX MATCH "^#+" level "${heading}")
    string(LENGTH "${rest}" end)
    set(marker "\n#")
    while(NOT marker STREQUAL "\n${level}#")
        string(FIND "${rest}" "${marker} " next)
        if(next GREATER 0 AND next LESS end)
            set(end ${next})
        endif()
        string(APPEND marker "#")
    endwhile()
    string(SUBSTRING "${rest}" 0 ${end} text)
    # Every section is a chapter of the guide.
    string(REGEX REPLACE "^#+ " "## " text "${text}")
    string(APPEND guide "\n${text}\n")
endforeach()
file(WRITE "${OUTPUT}" "${guide}")
