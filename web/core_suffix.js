return createScore2wavCore;
}
