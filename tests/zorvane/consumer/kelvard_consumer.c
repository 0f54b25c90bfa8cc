/* A program built against an installed libkelvard: it opens board 7, writes port C and reads the
 * configuration back. Prints "ok" when every call answered as it should. */
#include <kelvard.h>

#include <stdio.h>

int main(void)
{
    struct kelvard_board* board;
    int result = kelvard_board_open("7", &board);
    if (result != KELVARD_OK)
    {
        printf("open: %s\n", kelvard_result_text(result));
        return 1;
    }
    struct kelvard_config config;
    if (kelvard_board_write_port(board, KELVARD_PORT_C, 0x0F) != KELVARD_OK ||
        kelvard_board_read_config(board, &config) != KELVARD_OK)
        return 2;
    kelvard_board_close(board);
    puts("ok");
    return 0;
}
