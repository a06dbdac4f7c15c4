/* A small edition library for the tests: EDITION_NAME is its name (or NULL), EDITION_NO_NAME leaves the
   name export out. */
#include <stddef.h>

#ifndef EDITION_NO_NAME
const char* GetEditionName(void)
{
    return EDITION_NAME;
}
#endif

const char* GetEditionURL(void)
{
    return "https://edition.example/";
}

/* Not a real picture: the tests only check that the bytes arrive as exported. */
const unsigned char oemlogo_JPEG[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0xFF, 0xD9};
const unsigned int oemlogo_JPEG_size = sizeof(oemlogo_JPEG);
